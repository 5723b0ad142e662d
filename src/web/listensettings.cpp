#include "web/listensettings.h"

#include <QDebug>
#include <QSettings>

#include <optional>
#include <pwd.h>

namespace {
const char *const kAddressesKey = "Settings/LISTENADDRESSES";
const char *const kOriginsKey = "Settings/ALLOWEDORIGINS";
const char *const kHostsKey = "Settings/ALLOWEDHOSTS";
const char *const kUsersKey = "Settings/ALLOWEDUSERS";

// QSettings gives a list for "a, b" and a string for "a".
QStringList listValue(const QSettings &settings, const char *key)
{
    QStringList out;
    for (const QString &item : settings.value(key).toStringList())
        for (const QString &part : item.split(',', Qt::SkipEmptyParts))
            if (!part.trimmed().isEmpty())
                out << part.trimmed();
    return out;
}
std::optional<uint> uidOfUser(const QString &name)
{
    passwd entry = {};
    passwd *found = nullptr;
    char buffer[4096];
    if (::getpwnam_r(name.toLocal8Bit().constData(), &entry, buffer, sizeof buffer, &found) != 0 || !found)
        return std::nullopt;
    return uint(found->pw_uid);
}
} // namespace

ListenSettings::ListenSettings() : m_addresses{QHostAddress(QHostAddress::LocalHost), QHostAddress(QHostAddress::LocalHostIPv6)}
{
}

ListenSettings ListenSettings::fromFile(const QString &iniPath)
{
    ListenSettings result;
    const QSettings settings(iniPath, QSettings::IniFormat);
    QList<QHostAddress> addresses;
    for (const QString &text : listValue(settings, kAddressesKey)) {
        QHostAddress address;
        if (address.setAddress(text))
            addresses << address;
        else
            qWarning().noquote() << "settings: ignoring listen address" << text;
    }
    if (!addresses.isEmpty())
        result.m_addresses = addresses;
    result.m_allowedOrigins = listValue(settings, kOriginsKey);
    result.m_allowedHosts = listValue(settings, kHostsKey);
    for (const QString &name : listValue(settings, kUsersKey)) {
        if (const std::optional<uint> uid = uidOfUser(name))
            result.m_allowedUsers << *uid;
        else
            qWarning().noquote() << "settings: ignoring allowed user" << name << "(no such user)";
    }
    return result;
}

bool ListenSettings::loopbackOnly() const
{
    for (const QHostAddress &address : m_addresses)
        if (!address.isLoopback())
            return false;
    return true;
}
