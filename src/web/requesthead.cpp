#include "web/requesthead.h"

#include <QList>

namespace {
// The length of the longest line in `bytes`, without line ends; an
// unfinished last line counts as far as it goes.
int longestLine(const QByteArray &bytes)
{
    int longest = 0;
    int start = 0;
    while (start < bytes.size()) {
        int end = bytes.indexOf('\n', start);
        const bool finished = end >= 0;
        if (!finished)
            end = bytes.size();
        int length = end - start;
        if (finished && length > 0 && bytes.at(end - 1) == '\r')
            --length;
        longest = qMax(longest, length);
        start = end + 1;
    }
    return longest;
}

RequestHead refused(RequestHead::State state, const char *why)
{
    RequestHead head;
    head.state = state;
    head.refusal = why;
    return head;
}

// A field that may appear more than once only with the same value.
bool takeSingle(bool *seen, QByteArray *field, const QByteArray &value)
{
    if (*seen && *field != value)
        return false;
    *seen = true;
    *field = value;
    return true;
}
} // namespace

RequestHead parseRequestHead(const QByteArray &bytes, int maxLineBytes, int maxHeadBytes)
{
    const int end = bytes.indexOf("\r\n\r\n");
    const QByteArray head = end >= 0 ? bytes.left(end + 4) : bytes;
    if (longestLine(head) > maxLineBytes)
        return refused(RequestHead::TooLarge, "a header line is too long");
    if (end < 0) {
        if (bytes.size() >= maxHeadBytes)
            return refused(RequestHead::TooLarge, "the request head is too long");
        return RequestHead();
    }
    if (end + 4 > maxHeadBytes)
        return refused(RequestHead::TooLarge, "the request head is too long");

    const QList<QByteArray> lines = bytes.left(end).split('\n');
    const QList<QByteArray> requestLine = lines.first().trimmed().split(' ');
    if (requestLine.size() != 3 || requestLine.at(0).isEmpty() || !requestLine.at(1).startsWith('/')
        || !requestLine.at(2).startsWith("HTTP/1."))
        return refused(RequestHead::Invalid, "the request line is malformed");
    RequestHead result;
    result.method = requestLine.at(0);
    result.path = requestLine.at(1);
    for (int i = 1; i < lines.size(); ++i) {
        const QByteArray &line = lines.at(i);
        const int colon = line.indexOf(':');
        if (colon <= 0)
            return refused(RequestHead::Invalid, "a header line has no field name");
        const QByteArray name = line.left(colon).trimmed().toLower();
        const QByteArray value = line.mid(colon + 1).trimmed();
        if (name == "upgrade") {
            result.upgrade = value.toLower() == "websocket";
        } else if (name == "origin" || name == "sec-websocket-origin") {
            // Two different origins in one head are a forgery.
            if (!takeSingle(&result.hasOrigin, &result.origin, value))
                return refused(RequestHead::Invalid, "it names two origins");
        } else if (name == "host") {
            if (!takeSingle(&result.hasHost, &result.host, value))
                return refused(RequestHead::Invalid, "it names two hosts");
        }
    }
    result.state = RequestHead::Complete;
    return result;
}
