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
    bool hasHost = false;
    QByteArray host;
    // Why the head is Invalid or TooLarge, for the log.
    const char *refusal = "";
};

// Reads the request line and header fields up to the blank line. A head
// longer than `maxHeadBytes` (its blank line included), or with a line
// longer than `maxLineBytes` (its line end excluded), is TooLarge as soon as
// the bytes so far show it.
RequestHead parseRequestHead(const QByteArray &bytes, int maxLineBytes, int maxHeadBytes);
