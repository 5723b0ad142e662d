#include "web/requestqueue.h"

#include <QMetaObject>

void RequestQueue::add(const QObject *page, const QString &message)
{
    QQueue<QString> &waiting = m_waiting[page];
    if (waiting.isEmpty())
        m_turns.append(page);
    waiting.enqueue(message);
    scheduleNext();
}

void RequestQueue::scheduleNext()
{
    if (m_scheduled || m_turns.isEmpty())
        return;
    m_scheduled = true;
    QMetaObject::invokeMethod(this, &RequestQueue::handleNext, Qt::QueuedConnection);
}

void RequestQueue::handleNext()
{
    m_scheduled = false;
    if (m_turns.isEmpty())
        return;
    const QObject *page = m_turns.takeFirst();
    QQueue<QString> &waiting = m_waiting[page];
    const QString message = waiting.dequeue();
    if (waiting.isEmpty())
        m_waiting.remove(page);
    else
        m_turns.append(page);
    // Scheduled before handling: a handler that opens a dialog runs its own
    // event loop, which then goes on with the requests.
    scheduleNext();
    emit request(message, page);
}
