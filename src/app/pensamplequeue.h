#pragma once

#include "pad/touchinfo.h"

#include <QObject>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

// Pen samples and pad buttons on their way from the pad's reader thread to
// the GUI thread, in order. The reader appends under a lock; the GUI thread
// takes them in batches, one queued call per batch instead of one event per
// sample, and lets other events (the pages' requests) run between batches.
// So a pen flood neither starves the pages nor grows memory without bound.
//
// Should the GUI thread fall kMaxPending samples behind, the reader waits for
// room, leaving further reports with the pad; a sample that still finds no
// room after kReaderWaitMs is dropped before it reaches the canvas (so the
// path file never records it) and the drop is logged with a running count.
class PenSampleQueue : public QObject
{
    Q_OBJECT
public:
    static constexpr int kMaxPending = 20000;
    static constexpr int kBatch = 256;
    static constexpr int kReaderWaitMs = 250;

    using Consumer = std::function<void(const TOUCH_INFO &)>;
    explicit PenSampleQueue(Consumer consumer, QObject *parent = nullptr);

    // GUI thread: hands every waiting sample to the consumer now, so a
    // command acted on next (a page's confirm) sees all the ink before it.
    void flush();

public slots:
    // Any thread; connect with Qt::DirectConnection.
    void push(TOUCH_INFO sample);

private:
    // Invoked by name from the reader: see push().
    Q_INVOKABLE void drain();

    Consumer m_consumer;
    std::mutex m_mutex;
    std::condition_variable m_room;
    std::deque<TOUCH_INFO> m_pending; // guarded by m_mutex
    bool m_drainPosted = false;       // guarded by m_mutex
    long m_dropped = 0;               // guarded by m_mutex
};
