#pragma once

// The signing state shared by the GUI thread, the draw-to-web worker and the
// replay thread. Every variable is either atomic or guarded by its own mutex,
// so each read or write is safe from any thread; sequences that must not
// interleave are ordered by the code that uses them.

#include "ink/touchinfof.h"

#include <QString>

#include <atomic>
#include <mutex>

class MainWindow;
class ZqDraw;

template <typename T>
class SharedValue
{
public:
    T get() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_value;
    }
    void set(const T &value)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_value = value;
    }
    template <typename Change>
    void update(Change change)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        change(m_value);
    }

private:
    mutable std::mutex m_mutex;
    T m_value{};
};

extern std::atomic<MainWindow *> mdialog;
extern std::atomic<ZqDraw *> zqDraw;
extern SharedValue<QString> strSavePicName;       // set by request 2025
extern SharedValue<QString> strSavePathName;      // set by request 2025
extern SharedValue<QString> webDrawPathPointData; // Base64 path text of the last replay request
extern std::atomic<bool> isDrawPath;              // a replay is pending or running
extern SharedValue<TOUCH_INFO_F> touchinfo_f;     // the latest pen sample as the canvas takes it
extern std::atomic<int> ExcCommFlag;              // -1 pen sample, 2 re-sign, 3 confirm, 4 cancel
extern std::atomic<bool> isOnTouch;               // pen samples from the pad are taken
extern std::atomic<int> isOnDrawing;              // draw-to-web jobs under way
extern std::atomic<int> pointIndexa;              // drawn samples so far; one in ten goes to the web
extern std::atomic<int> devXmax;                  // width of the pad's coordinate range
extern std::atomic<int> devYmax;                  // height of the pad's coordinate range
