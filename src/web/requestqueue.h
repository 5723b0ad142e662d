#pragma once

#include <QHash>
#include <QList>
#include <QObject>
#include <QQueue>
#include <QString>

// The pages' requests on their way to the handler: each page's in the order
// it sent them, the pages taken in turn, one request per pass of the event
// loop. A page sending a burst thus delays another page's request by about
// one request per page, and the sockets are read between requests.
class RequestQueue : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    void add(const QObject *page, const QString &message);
    bool hasWaiting(const QObject *page) const { return m_waiting.contains(page); }

signals:
    // `page` is the key the request was added with.
    void request(const QString &message, const QObject *page);

private:
    void scheduleNext();
    void handleNext();

    QHash<const QObject *, QQueue<QString>> m_waiting;
    QList<const QObject *> m_turns; // pages with waiting requests, next first
    bool m_scheduled = false;
};
