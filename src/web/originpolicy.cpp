#include "web/originpolicy.h"

namespace {

// Splits "scheme://host[:port]" into its parts; false when it is not one.
bool splitOrigin(const QByteArray &origin, QByteArray &scheme, QByteArray &host, QByteArray &port)
{
    const int sep = origin.indexOf("://");
    if (sep <= 0)
        return false;
    scheme = origin.left(sep).toLower();
    QByteArray rest = origin.mid(sep + 3);
    if (rest.isEmpty() || rest.contains('/') || rest.contains('@'))
        return false;
    const int bracket = rest.lastIndexOf(']');
    const int colon = rest.lastIndexOf(':');
    if (colon > bracket) {
        port = rest.mid(colon + 1);
        rest.truncate(colon);
        if (port.isEmpty())
            return false;
        for (char c : port)
            if (c < '0' || c > '9')
                return false;
    } else {
        port.clear();
    }
    host = rest.toLower();
    return !host.isEmpty();
}

bool entryMatches(const QByteArray &origin, const QByteArray &entry)
{
    if (entry == "null" || origin == "null")
        return entry == origin;
    QByteArray oScheme, oHost, oPort, eScheme, eHost, ePort;
    if (!splitOrigin(origin, oScheme, oHost, oPort) || !splitOrigin(entry, eScheme, eHost, ePort))
        return false;
    if (oScheme != eScheme || oPort != ePort)
        return false;
    if (eHost.startsWith("*.")) {
        const QByteArray domain = eHost.mid(1); // ".example.com"
        return oHost.size() > domain.size() && oHost.endsWith(domain);
    }
    return oHost == eHost;
}

} // namespace

bool originMatches(const QByteArray &origin, const QStringList &allowList)
{
    for (const QString &entry : allowList)
        if (entryMatches(origin.trimmed(), entry.trimmed().toUtf8()))
            return true;
    return false;
}

OriginPolicy::OriginPolicy(const QStringList &allowList, quint16 port) : m_allowList(allowList)
{
    const QString p = QString::number(port);
    m_ownPage = QStringList{"http://127.0.0.1:" + p, "http://[::1]:" + p, "http://localhost:" + p};
}

bool OriginPolicy::allows(bool hasOrigin, const QByteArray &origin) const
{
    if (!restricted())
        return true;
    // Only browsers are the danger here; a local program could forge any origin.
    if (!hasOrigin)
        return true;
    return originMatches(origin, m_ownPage) || originMatches(origin, m_allowList);
}
