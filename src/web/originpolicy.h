#pragma once

#include <QByteArray>
#include <QStringList>

// Whether `origin` (as a browser sends it) is on `allowList`: exact
// "scheme://host[:port]" entries, "scheme://*.domain[:port]" for any
// subdomain, and "null" for file:// pages. Pure, so it can be fuzzed.
bool originMatches(const QByteArray &origin, const QStringList &allowList);

// The pages that may open the service. An empty list lets every page in;
// the driver's own page on the loopback address is always let in.
class OriginPolicy
{
public:
    OriginPolicy() = default;
    OriginPolicy(const QStringList &allowList, quint16 port);

    bool restricted() const { return !m_allowList.isEmpty(); }
    QStringList allowList() const { return m_allowList; }
    // `hasOrigin` false: a client that is no browser (browsers always send one).
    bool allows(bool hasOrigin, const QByteArray &origin) const;

private:
    QStringList m_allowList;
    QStringList m_ownPage;
};
