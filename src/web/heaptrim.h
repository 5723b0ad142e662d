#pragma once

#include <QObject>

class QTimer;

// Gives freed memory back to the system once a load has passed. glibc keeps
// the free pages of its arenas, which many small blocks (messages queued for
// pages, parts of requests, pictures) leave scattered after a burst; only
// blocks of 1 MiB or more are returned as they are freed (see main). After
// kTrimAfterBytes of traffic, or a connection going away, the heap is
// trimmed once the service has been quiet for kQuietMs.
class HeapTrim : public QObject
{
    Q_OBJECT
public:
    static constexpr qint64 kTrimAfterBytes = 1024 * 1024;
    static constexpr int kQuietMs = 500;

    explicit HeapTrim(QObject *parent);

    // Bytes received or sent.
    void noteTraffic(qint64 bytes);
    // Something that held memory went away (a connection).
    void noteRelease();

private:
    void trimIfQuiet();

    QTimer *m_timer;
    qint64 m_bytesSinceTrim = 0;
    bool m_busy = false; // traffic since the last tick
};
