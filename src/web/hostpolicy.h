#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QStringList>

// Whether a request's Host header names this machine the way a page that
// may use the service reaches it: a loopback name or address ("localhost",
// "*.localhost", 127.0.0.0/8, [::1]), an address the service listens on, or
// a name of `allowedNames` (exact, any case), with any port. A page of
// another site that has its own name resolve to 127.0.0.1 (DNS rebinding)
// still sends that name, and is refused. Pure, so it can be fuzzed.
bool hostAllowed(const QByteArray &host, const QList<QHostAddress> &listening, const QStringList &allowedNames);
