#pragma once

#include "web/connectionlimits.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QQueue>
#include <QString>

class QWebSocket;

// Messages on their way to the pages. Qt keeps what a socket has not written
// yet in that socket's buffer, a copy for each page; here a page's socket is
// given at most ConnectionLimits::kWriteAheadBytes beyond one message, and
// the rest waits as the text itself, shared by every page it is for, so a
// picture for many pages that read slowly is held once.
//
// What waits is bounded by the reply part of the memory budget: each text
// waiting for some page, counted once, and what the sockets' buffers hold.
// Beyond it pages are dropped, each with a close frame (1008) after the
// whole messages already in its socket, and cut off if it does not read even
// that within ConnectionLimits::kLingerMs. Pages that stopped reading go
// first (replies wait for them and they took none for
// ConnectionLimits::kStalledMs), then the page furthest behind; a page that
// reads empties its queue as fast as it reads, so it is never dropped while
// a page that stopped reading holds more.
//
// Lives in the WebSocket server's thread, like the sockets.
class OutgoingMessages : public QObject
{
    Q_OBJECT
public:
    OutgoingMessages(const ConnectionLimits *limits, QObject *parent);

    void addPage(QWebSocket *page);
    void removePage(QWebSocket *page);
    // Queued behind what waits for `page`; ignored for a page not added or
    // already dropped.
    void send(QWebSocket *page, const QString &message);
    // Every message still waiting goes into the sockets (before a close).
    void flushAll();
    // What the waiting replies take: their texts, each once, and the
    // sockets' buffers.
    qint64 heldBytes() const { return m_textBytes + m_socketBytes; }

private:
    struct Outbox
    {
        QQueue<QString> messages;
        qint64 queuedChars = 0; // of `messages`
        qint64 socketBytes = 0; // in the socket's buffer, when last looked
        QElapsedTimer waiting;  // since the page last took bytes or had none waiting
        qint64 held() const { return queuedChars + socketBytes; }
        bool stalled() const { return held() > 0 && waiting.hasExpired(ConnectionLimits::kStalledMs); }
    };
    // A text and the number of queues it waits in.
    struct SharedText
    {
        qint64 bytes = 0;
        int queues = 0;
    };

    void enqueue(Outbox &outbox, const QString &message);
    QString dequeue(Outbox &outbox);
    void feed(QWebSocket *page);
    void keepWithinBudget();
    QWebSocket *firstToDrop() const;
    void drop(QWebSocket *page);

    const ConnectionLimits *m_limits;
    QHash<QWebSocket *, Outbox> m_outboxes;
    QHash<const QChar *, SharedText> m_texts;
    qint64 m_textBytes = 0;
    qint64 m_socketBytes = 0;
};
