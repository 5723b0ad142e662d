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

signals:
    void terminationRequested(int signalNumber);

private:
    void drainSignals();

    QSocketNotifier *m_notifier = nullptr;
};
