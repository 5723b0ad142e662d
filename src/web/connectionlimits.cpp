#include "web/connectionlimits.h"

bool ConnectionLimits::mayAccept(int openConnections) const
{
    return openConnections < kMaxConnections;
}

bool ConnectionLimits::mayHoldHead(int unfinishedHeads) const
{
    return unfinishedHeads < kMaxPendingHeads;
}

bool ConnectionLimits::mayLinger(int lingeringConnections) const
{
    return lingeringConnections < kMaxLingering;
}

bool ConnectionLimits::mayHoldReplies(qint64 bytesWaiting) const
{
    return bytesWaiting <= kReplyBudgetBytes;
}

bool ConnectionLimits::mayKeepReceiving(qint64 bytesBeingReceived) const
{
    return bytesBeingReceived + requestBytesHeld() <= kRequestBudgetBytes;
}

bool ConnectionLimits::takeStatusRequest(StatusAllowance *allowance, qint64 nowMs)
{
    if (allowance->refilledAtMs < 0)
        allowance->refilledAtMs = nowMs;
    const qint64 earned = (nowMs - allowance->refilledAtMs) * kStatusPerSecond / 1000;
    if (earned > 0) {
        allowance->left = int(qMin<qint64>(kStatusBurst, allowance->left + earned));
        // A full allowance earns nothing while it waits.
        allowance->refilledAtMs = allowance->left == kStatusBurst
                                      ? nowMs
                                      : allowance->refilledAtMs + earned * 1000 / kStatusPerSecond;
    }
    if (allowance->left == 0)
        return false;
    --allowance->left;
    return true;
}

// Beyond the budget, a page with nothing waiting still gets a small request
// in (a cancel while others flood), and a large request is taken while no
// other is held (one replay at the size limit always fits).
bool ConnectionLimits::admitRequest(const QString &message, bool pageHasWaiting)
{
    const qint64 cost = costOf(message);
    const bool large = isLarge(message);
    qint64 held = m_requestBytes.load();
    do {
        if (held + cost > kRequestBudgetBytes && (large ? m_largeRequests.load() > 0 : pageHasWaiting))
            return false;
    } while (!m_requestBytes.compare_exchange_weak(held, held + cost));
    if (large)
        ++m_largeRequests;
    return true;
}

void ConnectionLimits::requestHandled(const QString &message)
{
    if (isLarge(message))
        --m_largeRequests;
    m_requestBytes -= costOf(message);
}
