#pragma once

#include <QString>
#include <QtGlobal>

#include <atomic>

// Everything pages can make the driver hold on the service port, and for how
// long, in one place: connections and their unfinished request heads, the
// size of a message, the memory all pages together may make the driver hold,
// the status requests a page may make, and the connections kept open while
// they close. The HTTP front, the WebSocket server and the page events ask it
// before they take on more.
//
// The memory budget is one figure for the whole driver, shared by every
// page, in two parts: requests (bytes being received, and whole requests
// from their arrival until the handler is done with them) and replies
// (messages waiting to be sent, counted for each page they wait for). A page
// that reads is never the one dropped while a page that does not holds more.
//
// One belongs to the WebSocket server and is shared with its front. The
// questions are answered from the figures the askers pass in, except for the
// requests held: their running total is kept here, raised in the server's
// thread as a request arrives and lowered in the GUI thread as it is handled.
class ConnectionLimits
{
public:
    // Connections past their request head (pages, and plain requests being
    // answered); beyond them a connection is refused with 503.
    static constexpr int kMaxConnections = 64;
    // Connections whose request head is not complete, counted apart: more
    // than a crowd of slow clients holds, so a page's head is read before
    // anyone's is dropped; beyond them the oldest one is dropped. A head
    // holds at most kMaxHeadBytes (8 MiB for all of them).
    static constexpr int kMaxPendingHeads = 256;
    // A line of a request head (as Qt's own server), and the whole head:
    // browsers send every cookie of 127.0.0.1 whatever the port.
    static constexpr int kMaxHeadLineBytes = 8 * 1024;
    static constexpr int kMaxHeadBytes = 32 * 1024;
    // A client that never finishes its head gives up its slot after this long.
    static constexpr int kHeadTimeoutMs = 5000;
    // After running out of file descriptors, accepting resumes only once this
    // many could be opened, so a freed one is not at once taken by yet
    // another connection.
    static constexpr int kSpareDescriptors = 4;
    // Closed connections kept open for the page to read the close frame, and
    // for how long (see LingeringClose); a page dropped for not reading gets
    // as long to take its close frame before it is cut off.
    static constexpr int kMaxLingering = 16;
    static constexpr int kLingerMs = 2000;

    // Far above any real request (a replayed path file of a long signature is
    // under 2 MB); a bigger message closes only its sender's connection.
    static constexpr quint64 kMaxIncomingMessageBytes = 16 * 1024 * 1024;

    // The memory budget. A request counts its text (two bytes a character)
    // and a small overhead; one request of the largest size always fits.
    // 32 MiB holds one message of the largest size as text and leaves the
    // driver under 128 MiB while it replays it.
    static constexpr qint64 kRequestBudgetBytes = 32 * 1024 * 1024;
    static constexpr qint64 kReplyBudgetBytes = 16 * 1024 * 1024;
    static constexpr qint64 kMemoryBudgetBytes = kRequestBudgetBytes + kReplyBudgetBytes;
    static constexpr qint64 kRequestOverheadBytes = 64;
    // Requests of up to this many characters are small: a page with none
    // waiting always gets one in, whatever others hold.
    static constexpr int kLargeRequestChars = 4096;
    // A page's socket takes at most this much at a time beyond one message;
    // the rest waits as text shared by every page it is for.
    static constexpr qint64 kWriteAheadBytes = 64 * 1024;
    // A page with replies waiting that took none for this long has stopped
    // reading: it is dropped before any page that still reads.
    static constexpr int kStalledMs = 1000;

    // Status requests ("2100", "2101") of one connection: a burst of this
    // many, then this many a second; more are ignored.
    static constexpr int kStatusBurst = 5;
    static constexpr int kStatusPerSecond = 5;
    // What is left of one connection's status requests.
    struct StatusAllowance {
        int left = kStatusBurst;
        qint64 refilledAtMs = -1;
    };
    // True when a status request made at `nowMs` (any steady clock) is
    // within the allowance, which it then uses up by one.
    static bool takeStatusRequest(StatusAllowance *allowance, qint64 nowMs);

    bool mayAccept(int openConnections) const;
    bool mayHoldHead(int unfinishedHeads) const;
    bool mayLinger(int lingeringConnections) const;
    // Replies waiting, summed over the pages they wait for.
    bool mayHoldReplies(qint64 bytesWaiting) const;
    // Bytes of unfinished messages, beside the whole requests held.
    bool mayKeepReceiving(qint64 bytesBeingReceived) const;

    // Any thread. True when `message` may be taken; it then counts until
    // requestHandled() is called with it. `pageHasWaiting`: its page has
    // requests waiting for their turn already.
    bool admitRequest(const QString &message, bool pageHasWaiting);
    void requestHandled(const QString &message);
    qint64 requestBytesHeld() const { return m_requestBytes.load(); }

private:
    static bool isLarge(const QString &message) { return message.size() > kLargeRequestChars; }
    static qint64 costOf(const QString &message) { return 2 * qint64(message.size()) + kRequestOverheadBytes; }

    std::atomic<qint64> m_requestBytes{0};
    std::atomic<int> m_largeRequests{0};
};
