#pragma once

#include <QObject>

class QSocketNotifier;
class QTimer;

// Ends a connection whose last frame the page must still read (a close frame
// naming the reason, such as 1009 for a message too big). Closing a socket
// that has unread input makes the kernel answer with a reset, and a page that
// is still sending then loses the close frame before it reads it. Instead the
// connection's own descriptor (a duplicate, taken before Qt closes its copy)
// sends FIN after the frame and reads and drops what the page still sends,
// until the page closes too or ConnectionLimits::kLingerMs pass.
class LingeringClose : public QObject
{
    Q_OBJECT
public:
    // Takes ownership of `descriptor`, a duplicate that keeps the connection
    // open while Qt still flushes and closes its own.
    LingeringClose(int descriptor, QObject *parent);
    ~LingeringClose() override;

    // Once Qt's copy is closed: sends FIN, drains, and deletes itself.
    void start();

private:
    void drain();

    int m_descriptor;
    QSocketNotifier *m_notifier = nullptr;
};
