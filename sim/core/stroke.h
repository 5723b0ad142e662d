#pragma once

// Plays a sequence of pen samples and button presses at a fixed rate on a
// thread of its own, as a hand moving the pen would.

#include "core/bench.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace padsim {

struct StrokeStep
{
    bool isButton = false;
    PenSample sample;
    Button button = Button::Confirm;
};

// A short handwritten-looking signature, scaled to the model's extents.
std::vector<StrokeStep> demoSignature(const PadModel &model);
// Lines "X Y P" or "button NAME"; blank lines and lines from '#' are skipped.
bool loadStroke(const std::string &path, std::vector<StrokeStep> &steps, std::string &error);

class StrokePlayer
{
public:
    static StrokePlayer &instance();
    // Replaces whatever is playing. Must be called without the bench's lock.
    // Rate 0 plays as fast as the host takes the reports: each waits until
    // the host's unread queue has room, so none is lost on the way.
    // Returns when the first step is due; step i follows `rate` later each.
    std::chrono::steady_clock::time_point play(std::shared_ptr<Device> device, std::vector<StrokeStep> steps, int rate);
    void stop();
    std::string progress();

private:
    StrokePlayer() = default;
    void run(std::shared_ptr<Device> device, std::vector<StrokeStep> steps, int rate,
             std::chrono::steady_clock::time_point start);

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::thread m_thread;
    bool m_stop = false;       // guarded by m_mutex
    size_t m_played = 0;       // guarded by m_mutex
    size_t m_total = 0;        // guarded by m_mutex
    bool m_playing = false;    // guarded by m_mutex
};

constexpr int kDefaultStrokeRate = 200;
constexpr int kMaxStrokeRate = 20000;
constexpr size_t kMaxStrokeSteps = 100000;

} // namespace padsim
