#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QStringList>

// A StatusNotifierWatcher as a desktop's panel runs it, reporting a
// registered host, so that applications show their tray icon as a
// StatusNotifierItem and register it here.
class StatusNotifierWatcher : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ isHostRegistered)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ items)

public:
    // Owns the watcher's well-known name on `bus`; false when it cannot.
    bool publish(QDBusConnection bus);

    bool isHostRegistered() const { return true; }
    int protocolVersion() const { return 0; }
    QStringList items() const { return m_items; }

public slots:
    void RegisterStatusNotifierItem(const QString &serviceOrPath);
    void RegisterStatusNotifierHost(const QString &) {}

signals:
    // The item's bus name (or path) as the application gave it.
    void StatusNotifierItemRegistered(const QString &item);
    void StatusNotifierHostRegistered();

private:
    QStringList m_items;
};
