#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>

// The draw-to-web jobs requested so far, each with the command flag it was
// requested for (-1 pen sample, 2 re-sign, 3 confirm, 4 cancel). A job acts
// on its own flag only, so a command is carried out exactly once, by its own
// job, whatever other jobs were queued or running when it arrived.
class DrawJobs
{
public:
    void push(int flag);
    // Worker side: takes the oldest job and counts it as running.
    bool startNext(int *flag);
    void finish();

    // Blocks until no job runs (queued ones may remain); false on time-out.
    bool waitWhileOneRuns(int timeoutMs);
    // Blocks until every queued job has been carried out; false on time-out.
    bool waitUntilAllDone(int timeoutMs);

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<int> m_queued;
    int m_running = 0;
};
