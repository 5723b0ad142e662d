#include "web/hostpolicy.h"

namespace {
// The name or address of "name[:port]" or "[v6]:port", lower case, without
// a final dot; empty when the text is not of that form. Only visible ASCII
// is a host: Qt's address parser would skip other white space, such as a
// Latin-1 no-break space, and take what follows for an address.
QByteArray hostPart(const QByteArray &host)
{
    for (char c : host)
        if (uchar(c) <= 0x20 || uchar(c) >= 0x7f)
            return QByteArray();
    QByteArray name = host;
    QByteArray port;
    if (name.startsWith('[')) {
        const int bracket = name.indexOf(']');
        if (bracket < 0)
            return QByteArray();
        port = name.mid(bracket + 1);
        name = name.mid(1, bracket - 1);
        if (!port.isEmpty() && !port.startsWith(':'))
            return QByteArray();
        port = port.mid(1);
    } else if (const int colon = name.indexOf(':'); colon >= 0) {
        port = name.mid(colon + 1);
        name.truncate(colon);
        if (port.isEmpty())
            return QByteArray();
    }
    for (char c : port)
        if (c < '0' || c > '9')
            return QByteArray();
    if (name.endsWith('.'))
        name.chop(1);
    return name.toLower();
}
} // namespace

bool hostAllowed(const QByteArray &host, const QList<QHostAddress> &listening, const QStringList &allowedNames)
{
    const QByteArray name = hostPart(host.trimmed());
    if (name.isEmpty())
        return false;
    // Names under .localhost never leave the machine (browsers and resolvers
    // answer them with loopback), so no other site can take them over.
    if (name == "localhost" || name.endsWith(".localhost"))
        return true;
    // Only what starts as an address is read as one: Qt's parser also takes
    // forms such as "+127.0.0.1" that no browser sends.
    const bool bracketed = host.trimmed().startsWith('[');
    const QHostAddress address = bracketed || (name.at(0) >= '0' && name.at(0) <= '9')
                                     ? QHostAddress(QString::fromLatin1(name))
                                     : QHostAddress();
    if (!address.isNull())
        return address.isLoopback() || listening.contains(address);
    for (const QString &allowed : allowedNames)
        if (name == allowed.trimmed().toLower().toUtf8())
            return true;
    return false;
}
