#pragma once

#include <QString>
#include <QtGlobal>

#include <atomic>

// Everything pages can make the driver hold on the service port, and for how
// long, in one place: connections and their unfinished request heads, the
// size of a message, the bytes being received, the bytes queued for a page,
// the large requests waiting to be handled, and the connections kept open
// while they close. The HTTP front and the WebSocket server ask it before
// they take on more.
//
// One belongs to the WebSocket server and is shared with its front. The
// questions are answered from the figures the askers pass in, except for
// large requests: their running total is kept here, raised in the server's
// thread as a request is handed on and lowered in the GUI thread as it is
// handled.
class ConnectionLimits
{
public:
    // Connections: open ones, and those whose request head is not complete.
    static constexpr int kMaxConnections = 64;
    static constexpr int kMaxPendingHeads = 16;
    static constexpr int kMaxHeadBytes = 8 * 1024;
    // A client that never finishes its head gives up its slot after this long.
    static constexpr int kHeadTimeoutMs = 5000;
    // After running out of file descriptors, accepting resumes only once this
    // many could be opened, so a freed one is not at once taken by yet
    // another connection.
    static constexpr int kSpareDescriptors = 4;
    // Closed connections kept open for the page to read the close frame, and
    // for how long (see LingeringClose).
    static constexpr int kMaxLingering = 16;
    static constexpr int kLingerMs = 2000;

    // Far above any real request (a replayed path file of a long signature is
    // under 2 MB); a bigger message closes only its sender's connection.
    static constexpr quint64 kMaxIncomingMessageBytes = 16 * 1024 * 1024;
    // Unfinished messages of all connections together; one message alone may
    // use it up.
    static constexpr qint64 kMaxReceivingBytes = 20 * 1024 * 1024;
    // A page that stops reading is dropped once this much waits for it
    // beyond what its socket buffer holds.
    static constexpr qint64 kMaxQueuedBytesPerClient = 16 * 1024 * 1024;
    // Large requests (replayed paths) handed on and not yet handled are
    // bounded together: one is always taken, more only while the text in
    // flight stays under the bound. Small requests are never refused.
    static constexpr int kLargeRequestChars = 4096;
    static constexpr qint64 kMaxLargeInFlightChars = 8 * 1024 * 1024; // 16 MiB of text

    bool mayAccept(int openConnections, int unfinishedHeads) const;
    bool mayKeepReceiving(qint64 bytesBeingReceived) const;
    bool mayQueueForPage(qint64 bytesQueued) const;
    bool mayLinger(int lingeringConnections) const;

    // Any thread. True when `message` may be handed on; a large one then
    // counts until requestHandled() is called with it.
    bool admitRequest(const QString &message);
    void requestHandled(const QString &message);
    qint64 largeRequestsInFlightChars() const { return m_largeInFlight.load(); }

private:
    static bool isLarge(const QString &message) { return message.size() > kLargeRequestChars; }

    std::atomic<qint64> m_largeInFlight{0};
};
