#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM and SIGINT (a desktop logout, Ctrl-C) into the same orderly
// quit as the tray's quit entry. The handler only writes to a socket pair;
// the quit itself happens in the event loop.
class TerminationSignals : public QObject
{
    Q_OBJECT
public:
    explicit TerminationSignals(QObject *parent = nullptr);
    ~TerminationSignals() override;

    // A quit asked for in a nested event loop (the first start's tips) ends
    // only that loop; the main loop must not start after it.
    bool requested() const { return m_requested; }

signals:
    void terminationRequested(int signalNumber);

private:
    void drainSignals();

    QSocketNotifier *m_notifier = nullptr;
    bool m_requested = false;
};
