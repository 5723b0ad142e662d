#pragma once

#include <QByteArray>

// What the first bytes of a connection on the service port ask for. A pure
// function of the bytes, so it can be fuzzed on its own.
struct RequestHead
{
    enum State { Incomplete, Complete, Invalid, TooLarge };
    State state = Incomplete;
    QByteArray method;
    QByteArray path;
    bool upgrade = false; // "Upgrade: websocket"
    bool hasOrigin = false;
    QByteArray origin;
};

// Reads the request line and header fields up to the blank line; a head that
// has not ended within `maxBytes` is TooLarge.
RequestHead parseRequestHead(const QByteArray &bytes, int maxBytes);
