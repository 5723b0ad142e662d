#include "web/outgoingmessages.h"

#include <QDebug>
#include <QHostAddress>
#include <QTimer>
#include <QWebSocket>

namespace {
QString peerOf(const QWebSocket *page)
{
    return QStringLiteral("%1:%2").arg(page->peerAddress().toString(), QString::number(page->peerPort()));
}
} // namespace

OutgoingMessages::OutgoingMessages(const ConnectionLimits *limits, QObject *parent)
    : QObject(parent), m_limits(limits)
{
}

void OutgoingMessages::addPage(QWebSocket *page)
{
    m_outboxes.insert(page, Outbox());
    connect(page, &QWebSocket::bytesWritten, this, [this, page] {
        const auto it = m_outboxes.find(page);
        if (it == m_outboxes.end())
            return;
        it->waiting.restart();
        feed(page);
    });
}

void OutgoingMessages::removePage(QWebSocket *page)
{
    const auto it = m_outboxes.find(page);
    if (it == m_outboxes.end())
        return;
    while (!it->messages.isEmpty())
        dequeue(*it);
    m_socketBytes -= it->socketBytes;
    m_outboxes.erase(it);
    disconnect(page, &QWebSocket::bytesWritten, this, nullptr);
}

void OutgoingMessages::send(QWebSocket *page, const QString &message)
{
    const auto it = m_outboxes.find(page);
    if (it == m_outboxes.end())
        return;
    if (it->held() == 0)
        it->waiting.restart();
    enqueue(*it, message);
    feed(page);
    if (!m_limits->mayHoldReplies(heldBytes()))
        keepWithinBudget();
}

void OutgoingMessages::flushAll()
{
    for (auto it = m_outboxes.begin(); it != m_outboxes.end(); ++it)
        while (!it->messages.isEmpty())
            it.key()->sendTextMessage(dequeue(*it));
}

// A text is counted once, as long as some queue holds it: pages share it.
void OutgoingMessages::enqueue(Outbox &outbox, const QString &message)
{
    outbox.messages.enqueue(message);
    outbox.queuedChars += message.size();
    SharedText &text = m_texts[message.constData()];
    if (text.queues++ == 0) {
        text.bytes = qint64(message.size()) * sizeof(QChar);
        m_textBytes += text.bytes;
    }
}

QString OutgoingMessages::dequeue(Outbox &outbox)
{
    const QString message = outbox.messages.dequeue();
    outbox.queuedChars -= message.size();
    const auto text = m_texts.find(message.constData());
    if (--text->queues == 0) {
        m_textBytes -= text->bytes;
        m_texts.erase(text);
    }
    return message;
}

// Whole messages only, so that a close frame can always follow.
void OutgoingMessages::feed(QWebSocket *page)
{
    const auto it = m_outboxes.find(page);
    if (it == m_outboxes.end())
        return;
    while (!it->messages.isEmpty() && page->bytesToWrite() < ConnectionLimits::kWriteAheadBytes)
        page->sendTextMessage(dequeue(*it));
    const qint64 inSocket = page->bytesToWrite();
    m_socketBytes += inSocket - it->socketBytes;
    it->socketBytes = inSocket;
}

void OutgoingMessages::keepWithinBudget()
{
    while (!m_limits->mayHoldReplies(heldBytes())) {
        QWebSocket *page = firstToDrop();
        if (!page)
            return;
        const Outbox &outbox = m_outboxes[page];
        qWarning().noquote() << "client" << peerOf(page)
                             << (outbox.stalled() ? "stopped reading; dropping it (1008):"
                                                  : "reads too slowly; dropping it (1008):")
                             << outbox.held() << "bytes wait for it," << heldBytes() << "are held for all pages";
        drop(page);
    }
}

// Stalled pages first, then the one furthest behind.
QWebSocket *OutgoingMessages::firstToDrop() const
{
    QWebSocket *first = nullptr;
    bool firstStalled = false;
    qint64 firstHeld = 0;
    for (auto it = m_outboxes.cbegin(); it != m_outboxes.cend(); ++it) {
        const bool stalled = it->stalled();
        if (it->held() == 0 || (firstStalled && !stalled))
            continue;
        if ((stalled && !firstStalled) || it->held() > firstHeld) {
            first = it.key();
            firstStalled = stalled;
            firstHeld = it->held();
        }
    }
    return first;
}

void OutgoingMessages::drop(QWebSocket *page)
{
    removePage(page);
    page->close(QWebSocketProtocol::CloseCodePolicyViolated, QStringLiteral("messages not read"));
    // A page that reads takes its close frame and goes; one that does not is
    // cut off, which frees what its socket still holds.
    QTimer::singleShot(ConnectionLimits::kLingerMs, page, [page] { page->abort(); });
}
