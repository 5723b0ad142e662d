#include "web/connectionlimits.h"

bool ConnectionLimits::mayAccept(int openConnections, int unfinishedHeads) const
{
    return openConnections < kMaxConnections && unfinishedHeads < kMaxPendingHeads;
}

bool ConnectionLimits::mayKeepReceiving(qint64 bytesBeingReceived) const
{
    return bytesBeingReceived <= kMaxReceivingBytes;
}

bool ConnectionLimits::mayQueueForPage(qint64 bytesQueued) const
{
    return bytesQueued <= kMaxQueuedBytesPerClient;
}

bool ConnectionLimits::mayLinger(int lingeringConnections) const
{
    return lingeringConnections < kMaxLingering;
}

bool ConnectionLimits::admitRequest(const QString &message)
{
    if (!isLarge(message))
        return true;
    qint64 held = m_largeInFlight.load();
    do {
        if (held > 0 && held + message.size() > kMaxLargeInFlightChars)
            return false;
    } while (!m_largeInFlight.compare_exchange_weak(held, held + message.size()));
    return true;
}

void ConnectionLimits::requestHandled(const QString &message)
{
    if (isLarge(message))
        m_largeInFlight -= message.size();
}
