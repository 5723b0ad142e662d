#include "web/heaptrim.h"

#include <QTimer>

#include <malloc.h>

HeapTrim::HeapTrim(QObject *parent) : QObject(parent), m_timer(new QTimer(this))
{
    m_timer->setInterval(kQuietMs);
    connect(m_timer, &QTimer::timeout, this, &HeapTrim::trimIfQuiet);
}

void HeapTrim::noteTraffic(qint64 bytes)
{
    m_bytesSinceTrim += bytes;
    m_busy = true;
    if (m_bytesSinceTrim >= kTrimAfterBytes && !m_timer->isActive())
        m_timer->start();
}

void HeapTrim::noteRelease()
{
    noteTraffic(kTrimAfterBytes);
}

void HeapTrim::trimIfQuiet()
{
    if (m_busy) {
        m_busy = false;
        return;
    }
    m_timer->stop();
    m_bytesSinceTrim = 0;
    malloc_trim(0);
}
