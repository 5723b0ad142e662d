#pragma once

#include <QDBusConnection>
#include <QProcess>
#include <QString>

// A private D-Bus session bus (dbus-daemon --session) for one test, and the
// test's own connection to it.
class SessionBus
{
public:
    SessionBus();
    ~SessionBus();

    // Empty when the daemon did not start.
    QString address() const { return m_address; }
    QDBusConnection connection() const;

private:
    QProcess m_daemon;
    QString m_address;
    QString m_connectionName;
};
