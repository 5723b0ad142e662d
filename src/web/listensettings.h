#pragma once

#include <QHostAddress>
#include <QList>
#include <QStringList>

// Where the service listens and which pages may use it, from the settings
// file (group "Settings"):
//   LISTENADDRESSES  addresses to listen on instead of 127.0.0.1 and ::1
//                    (unsafe: any other address opens the pad to the network)
//   ALLOWEDORIGINS   origins of the pages that may connect; empty: any page
//   ALLOWEDHOSTS     names besides loopback ones by which pages may reach
//                    the service (the Host a browser sends)
//   ALLOWEDUSERS     local accounts (user names) whose connections this
//                    driver serves besides its own user's; empty: none
// All are comma-separated lists.
class ListenSettings
{
public:
    ListenSettings();
    static ListenSettings fromFile(const QString &iniPath);

    QList<QHostAddress> addresses() const { return m_addresses; }
    bool loopbackOnly() const;
    QStringList allowedOrigins() const { return m_allowedOrigins; }
    QStringList allowedHosts() const { return m_allowedHosts; }
    // ALLOWEDUSERS as uids; names the machine does not know are left out (and logged).
    QList<uint> allowedUsers() const { return m_allowedUsers; }

    void setAddresses(const QList<QHostAddress> &addresses) { m_addresses = addresses; }
    void setAllowedOrigins(const QStringList &origins) { m_allowedOrigins = origins; }
    void setAllowedHosts(const QStringList &hosts) { m_allowedHosts = hosts; }
    void setAllowedUsers(const QList<uint> &uids) { m_allowedUsers = uids; }

private:
    QList<QHostAddress> m_addresses;
    QStringList m_allowedOrigins;
    QStringList m_allowedHosts;
    QList<uint> m_allowedUsers;
};
