#include "core/stroke.h"

#include "core/pen.h"

#include <chrono>
#include <cmath>
#include <fstream>
#include <sstream>

#include <pthread.h>

namespace padsim {

std::vector<StrokeStep> demoSignature(const PadModel &model)
{
    // Three strokes in unit coordinates: a looping name, a dot, an underline.
    struct Point { double x, y, p; };
    std::vector<std::vector<Point>> strokes(3);
    const double pi = 3.14159265358979;
    for (int i = 0; i <= 160; ++i) {
        const double t = i / 160.0;
        const double x = 0.12 + 0.62 * t + 0.05 * std::sin(t * 8 * pi);
        const double y = 0.45 - 0.15 * std::sin(t * 6 * pi) * (1.0 - 0.4 * t);
        strokes[0].push_back({x, y, 0.35 + 0.45 * std::sin(t * pi)});
    }
    for (int i = 0; i <= 6; ++i)
        strokes[1].push_back({0.80 + 0.004 * i, 0.28, 0.6});
    for (int i = 0; i <= 60; ++i) {
        const double t = i / 60.0;
        strokes[2].push_back({0.15 + 0.65 * t, 0.66 + 0.02 * std::sin(t * pi), 0.5 - 0.3 * t});
    }
    std::vector<StrokeStep> steps;
    const int maxPressure = model.pressureLevels - 1;
    for (const auto &stroke : strokes) {
        for (const Point &point : stroke) {
            StrokeStep step;
            step.sample = {static_cast<int>(point.x * model.maxX), static_cast<int>(point.y * model.maxY),
                           static_cast<int>(point.p * maxPressure)};
            steps.push_back(step);
        }
        StrokeStep lift = steps.back();   // the pen leaves the surface
        lift.sample.pressure = 0;
        steps.push_back(lift);
    }
    return steps;
}

bool loadStroke(const std::string &path, std::vector<StrokeStep> &steps, std::string &error)
{
    std::ifstream file(path);
    if (!file) {
        error = "cannot read " + path;
        return false;
    }
    std::vector<StrokeStep> loaded;
    std::string line;
    int number = 0;
    while (std::getline(file, line)) {
        ++number;
        const size_t comment = line.find('#');
        if (comment != std::string::npos)
            line.erase(comment);
        std::istringstream words(line);
        std::string first;
        if (!(words >> first))
            continue;
        StrokeStep step;
        std::string rest;
        if (first == "button") {
            std::string name;
            step.isButton = true;
            if (!(words >> name) || !parseButton(name, step.button) || (words >> rest)) {
                error = path + " line " + std::to_string(number) + ": expected button confirm|resign|cancel";
                return false;
            }
        } else {
            std::istringstream numbers(line);
            long x, y, p;
            if (!(numbers >> x >> y >> p) || (numbers >> rest) || x < 0 || y < 0 || p < 0 || x > 65535 ||
                y > 65535 || p > 65535) {
                error = path + " line " + std::to_string(number) + ": expected X Y P (0 to 65535)";
                return false;
            }
            step.sample = {static_cast<int>(x), static_cast<int>(y), static_cast<int>(p)};
        }
        loaded.push_back(step);
        if (loaded.size() > kMaxStrokeSteps) {
            error = path + ": more than " + std::to_string(kMaxStrokeSteps) + " steps";
            return false;
        }
    }
    if (loaded.empty()) {
        error = path + ": no samples";
        return false;
    }
    steps.swap(loaded);
    return true;
}

StrokePlayer &StrokePlayer::instance()
{
    static StrokePlayer *player = new StrokePlayer;   // lives as long as the process
    return *player;
}

std::chrono::steady_clock::time_point StrokePlayer::play(std::shared_ptr<Device> device, std::vector<StrokeStep> steps,
                                                         int rate)
{
    stop();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stop = false;
    m_played = 0;
    m_total = steps.size();
    m_playing = true;
    // Fixed here, not when the thread first runs: a late thread catches up
    // instead of shifting every step.
    const auto start = std::chrono::steady_clock::now();
    m_thread = std::thread(&StrokePlayer::run, this, std::move(device), std::move(steps), rate, start);
    return start;
}

void StrokePlayer::stop()
{
    std::thread finished;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
        finished.swap(m_thread);
    }
    m_wake.notify_all();
    if (finished.joinable())
        finished.join();
}

std::string StrokePlayer::progress()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_playing)
        return "idle";
    return "playing " + std::to_string(m_played) + "/" + std::to_string(m_total);
}

void StrokePlayer::run(std::shared_ptr<Device> device, std::vector<StrokeStep> steps, int rate,
                       std::chrono::steady_clock::time_point start)
{
    // Named, so that a measurement of the host's threads can tell it apart.
    pthread_setname_np(pthread_self(), "padsim-player");
    Bench &bench = device->bench;
    const auto period = std::chrono::nanoseconds(rate > 0 ? 1000000000LL / rate : 0);
    auto due = start;
    std::vector<PenSample> batch;
    for (size_t i = 0; i < steps.size(); ++i) {
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            if (m_wake.wait_until(lock, due, [this] { return m_stop; }))
                break;
        }
        due += period;
        std::unique_lock<std::mutex> lock(bench.mutex);
        if (rate == 0) {
            // The host empties its queue without telling: look again shortly.
            auto stopped = [this] {
                std::lock_guard<std::mutex> stopLock(m_mutex);
                return m_stop;
            };
            while (device->attached && device->handle && device->pad->streaming()
                   && device->handle->unread.size() >= kMaxUnreadReports && !stopped())
                bench.changed.wait_for(lock, std::chrono::microseconds(200));
        }
        if (!device->attached)
            break;
        const StrokeStep &step = steps[i];
        if (step.isButton) {
            pressButton(*device, step.button);
        } else {
            batch.push_back(step.sample);
            const bool last = i + 1 == steps.size() || steps[i + 1].isButton;
            if (batch.size() >= device->pad->samplesPerReport() || last) {
                movePen(*device, batch);
                batch.clear();
            }
        }
        std::lock_guard<std::mutex> progressLock(m_mutex);
        m_played = i + 1;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_playing = false;
}

} // namespace padsim
