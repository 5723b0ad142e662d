#include "web/lingeringclose.h"

#include "web/connectionlimits.h"

#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>

LingeringClose::LingeringClose(int descriptor, QObject *parent) : QObject(parent), m_descriptor(descriptor) {}

LingeringClose::~LingeringClose()
{
    if (m_notifier)
        m_notifier->setEnabled(false);
    ::close(m_descriptor);
}

void LingeringClose::start()
{
    if (m_notifier)
        return;
    ::shutdown(m_descriptor, SHUT_WR);
    m_notifier = new QSocketNotifier(m_descriptor, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &LingeringClose::drain);
    QTimer::singleShot(ConnectionLimits::kLingerMs, this, &QObject::deleteLater);
}

// A bounded read per wake-up: a page that keeps sending cannot hold the
// thread, only its own connection until the time is up.
void LingeringClose::drain()
{
    char discarded[65536];
    const ssize_t n = ::recv(m_descriptor, discarded, sizeof discarded, MSG_DONTWAIT);
    if (n > 0 || (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)))
        return;
    // The page closed its side, or the connection failed.
    m_notifier->setEnabled(false);
    deleteLater();
}
