#include "app/pensamplequeue.h"

#include <QDebug>
#include <QThread>

#include <chrono>
#include <vector>

PenSampleQueue::PenSampleQueue(Consumer consumer, QObject *parent) : QObject(parent), m_consumer(std::move(consumer))
{
}

void PenSampleQueue::push(TOUCH_INFO sample)
{
    // The GUI thread itself never waits for room: only it makes room.
    const bool mayWait = QThread::currentThread() != thread();
    bool postDrain = false;
    long dropped = 0;
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        const bool room = !mayWait || int(m_pending.size()) < kMaxPending
                          || m_room.wait_for(lock, std::chrono::milliseconds(kReaderWaitMs),
                                             [this] { return int(m_pending.size()) < kMaxPending; });
        if (room) {
            m_pending.push_back(sample);
            postDrain = !m_drainPosted;
            m_drainPosted = true;
        } else {
            dropped = ++m_dropped;
        }
    }
    // Logged after letting go: the GUI thread drains under the same lock.
    if (dropped == 1 || (dropped > 0 && dropped % 1000 == 0))
        qWarning() << "pen samples arrive faster than they can be drawn; dropped so far:" << dropped;
    // By name: a call object made in this thread and run in the GUI thread
    // would be ordered only by Qt's event queue, which ThreadSanitizer
    // cannot see.
    if (postDrain)
        QMetaObject::invokeMethod(this, "drain", Qt::QueuedConnection);
}

void PenSampleQueue::flush()
{
    std::deque<TOUCH_INFO> waiting;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        waiting.swap(m_pending);
    }
    m_room.notify_all();
    for (const TOUCH_INFO &sample : waiting)
        m_consumer(sample);
}

void PenSampleQueue::drain()
{
    std::vector<TOUCH_INFO> batch;
    batch.reserve(kBatch);
    bool more = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        while (!m_pending.empty() && int(batch.size()) < kBatch) {
            batch.push_back(m_pending.front());
            m_pending.pop_front();
        }
        more = !m_pending.empty();
        m_drainPosted = more;
    }
    m_room.notify_all();
    for (const TOUCH_INFO &sample : batch)
        m_consumer(sample);
    // Behind whatever else waits in the GUI thread's queue.
    if (more)
        QMetaObject::invokeMethod(this, &PenSampleQueue::drain, Qt::QueuedConnection);
}
