#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>

// The draw-to-web jobs requested so far, each with the command flag it was
// requested for (-1 pen sample, 2 re-sign, 3 confirm, 4 cancel). A job acts
// on its own flag only, so a command is carried out exactly once, by its own
// job, whatever other jobs were queued or running when it arrived.
//
// Picture jobs encode the canvas when they run. Up to kMaxWaitingPictures
// may wait in a row (a batch of samples drawn at once asks for several at
// nearly the same moment, and each is still sent); a picture job asked for
// beyond that merges into the last one, so the page gets the newer picture
// and a worker that falls behind never piles up pictures. Command jobs never
// merge and keep their order; each runs after every picture job before it.
//
// The worker's side is the signing state's isOnDrawing (jobs under way) and
// ExcCommFlag (the flag of the job under way, or of the last one): only
// DrawJobs writes them, under its lock, so a wait here sees them change.
class DrawJobs
{
public:
    static constexpr int kMaxWaitingPictures = 48;

    // False when the job merged into a queued one (no new job to run).
    bool push(int flag);
    // Worker side: takes the oldest job, counts it in isOnDrawing and makes
    // its flag ExcCommFlag; false when none is queued.
    bool startNext();
    void finish();

    // Blocks until no job runs (queued ones may remain); false on time-out.
    bool waitWhileOneRuns(int timeoutMs);
    // Blocks until every queued job has been carried out; false on time-out.
    bool waitUntilAllDone(int timeoutMs);
    // Blocks until no picture job waits to start; false on time-out. A
    // replay paces itself by this so that none of its pictures merge.
    bool waitUntilNoPictureQueued(int timeoutMs);

private:
    bool pictureQueued() const;
    int waitingPicturesAtTheEnd() const;

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<int> m_queued;
};
