#include "web/requesthead.h"

#include <QList>

RequestHead parseRequestHead(const QByteArray &bytes, int maxBytes)
{
    RequestHead head;
    const int end = bytes.indexOf("\r\n\r\n");
    if (end < 0 || end + 4 > maxBytes) {
        head.state = bytes.size() >= maxBytes ? RequestHead::TooLarge : RequestHead::Incomplete;
        return head;
    }
    const QList<QByteArray> lines = bytes.left(end).split('\n');
    const QList<QByteArray> requestLine = lines.first().trimmed().split(' ');
    if (requestLine.size() != 3 || requestLine.at(0).isEmpty() || !requestLine.at(1).startsWith('/')
        || !requestLine.at(2).startsWith("HTTP/1.")) {
        head.state = RequestHead::Invalid;
        return head;
    }
    head.method = requestLine.at(0);
    head.path = requestLine.at(1);
    for (int i = 1; i < lines.size(); ++i) {
        const QByteArray &line = lines.at(i);
        const int colon = line.indexOf(':');
        if (colon <= 0) {
            head.state = RequestHead::Invalid;
            return head;
        }
        const QByteArray name = line.left(colon).trimmed().toLower();
        const QByteArray value = line.mid(colon + 1).trimmed();
        if (name == "upgrade") {
            head.upgrade = value.toLower() == "websocket";
        } else if (name == "origin" || name == "sec-websocket-origin") {
            // Two different origins in one head are a forgery.
            if (head.hasOrigin && head.origin != value) {
                head.state = RequestHead::Invalid;
                return head;
            }
            head.hasOrigin = true;
            head.origin = value;
        }
    }
    head.state = RequestHead::Complete;
    return head;
}
