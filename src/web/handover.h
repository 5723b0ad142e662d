#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

#include <sys/socket.h>
#include <sys/types.h>

class QSocketNotifier;
class QTimer;

// One service port, one driver per user: the driver that holds the port
// passes each connection whose page belongs to another user, before reading
// anything from it, to that user's driver over its abstract Unix socket
// "@ZQSignDriver-handover-UID", with SCM_RIGHTS. Nobody is trusted on the way:
// the passer checks with SO_PEERCRED that the listener it reached runs as the
// connection's owner (a squatter on the name gets nothing), and the receiver
// checks the passed socket's peer owner with the kernel's socket diagnostics
// (a forged hand-over gets nothing).
namespace handover {

// The abstract name of `uid`'s listener, without the leading NUL.
QByteArray socketName(uid_t uid);

// What the port's holder does with a connection it accepted.
struct Route
{
    enum Kind { Serve, Passed, Refuse } kind = Serve;
    QByteArray reason; // for Refuse: a plain line for the page and the log
};

// Serve: a page of our own user or of one of `alsoServed`, or not a loopback
// peer. Passed: handed to its owner's driver (our descriptor is closed).
// Refuse: its owner cannot be found or runs no driver that took it.
Route routeAccepted(int descriptor, const QList<uint> &alsoServed);

} // namespace handover

// This driver's end: receives connections of its own user's pages.
class HandOverListener : public QObject
{
    Q_OBJECT
public:
    static constexpr int kMaxPassers = 16;
    static constexpr int kPasserTimeoutMs = 2000;
    static constexpr int kRetryBindMs = 3000;

    explicit HandOverListener(QObject *parent = nullptr);
    ~HandOverListener() override;

    bool isListening() const { return m_fd >= 0; }

signals:
    // A TCP connection whose page runs as this driver's user, checked.
    void received(int descriptor);

private:
    void listen();
    void acceptPassers();
    void receiveFrom(int passer);
    void dropPasser(int passer);

    int m_fd = -1;
    QSocketNotifier *m_notifier = nullptr;
    QTimer *m_retryTimer;
    bool m_bindFailureReported = false;
    QHash<int, QSocketNotifier *> m_passers;
};
