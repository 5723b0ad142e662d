#include "support/sessionbus.h"

#include <QUuid>

SessionBus::SessionBus()
{
    m_daemon.start("dbus-daemon", {"--session", "--nofork", "--nopidfile", "--print-address=1"});
    if (!m_daemon.waitForStarted(5000))
        return;
    // The address is printed once the bus accepts connections.
    while (!m_daemon.canReadLine() && m_daemon.waitForReadyRead(5000)) {
    }
    m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
    m_connectionName = "test-session-" + QUuid::createUuid().toString(QUuid::WithoutBraces);
    if (!m_address.isEmpty())
        QDBusConnection::connectToBus(m_address, m_connectionName);
}

SessionBus::~SessionBus()
{
    if (!m_connectionName.isEmpty())
        QDBusConnection::disconnectFromBus(m_connectionName);
    m_daemon.terminate();
    if (!m_daemon.waitForFinished(5000))
        m_daemon.kill();
}

QDBusConnection SessionBus::connection() const
{
    return QDBusConnection(m_connectionName);
}
