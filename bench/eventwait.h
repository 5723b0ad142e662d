#pragma once

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

// Waits inside a real event loop, which sleeps in poll() and handles a page's
// message the moment it arrives. QTest's waits sleep in 10 ms steps between
// rounds of event handling, which would add up to 10 ms to every arrival
// time the benchmark records.
namespace eventwait {

inline void forMs(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

template <typename Done>
bool until(Done done, int timeoutMs)
{
    QElapsedTimer waited;
    waited.start();
    while (!done()) {
        if (waited.elapsed() >= timeoutMs)
            return false;
        forMs(10);
    }
    return true;
}

} // namespace eventwait
