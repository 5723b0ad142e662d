#pragma once

#include "web/connectionlimits.h"
#include "web/listensettings.h"

#include <QHash>
#include <QList>
#include <QObject>

class HeapTrim;
class HttpFront;
class OutgoingMessages;
class QWebSocket;
class RequestQueue;
class QWebSocketServer;

// The driver's only network endpoint: a plain ws:// server behind the HTTP
// front (loopback addresses unless the settings say otherwise). Text from any
// page goes to OnProcessMessage; sendMessage reaches every connected page.
// What pages may make it hold is bounded by its ConnectionLimits.
class WebsocketHandler : public QObject
{
    Q_OBJECT
public:
    explicit WebsocketHandler(unsigned short port, QObject *parent = nullptr,
                              const ListenSettings &settings = ListenSettings());
    ~WebsocketHandler() override;

    // Callable from any thread; delivered in the handler's thread, in order.
    void sendMessage(const QString &message);
    // To one page only (see pageMessage); callable from any thread, in order
    // with sendMessage calls from that thread. A page gone meanwhile gets nothing.
    void sendMessageTo(quint64 page, const QString &message);
    void clearClient();

    bool isListening() const;
    quint16 serverPort() const;
    int clientCount() const { return m_clientList.size(); }
    const HttpFront *front() const { return m_front; }

    // Any thread: the receiver of OnProcessMessage is done with `message`.
    // From its arrival until then a request counts against the memory
    // budget; one that would exceed it is dropped (logged) as it arrives.
    void requestHandled(const QString &message);

signals:
    void OnProcessMessage(const QString &message);
    // The same request with the identity of the page that sent it, emitted
    // just before OnProcessMessage. Identities are never reused.
    void pageMessage(quint64 page, const QString &message);
    void pageClosed(quint64 page);
    void sendMessageToWebClient(const QString &message);
    // Carries sendMessageTo's messages into the handler's thread.
    void deliveryRequested(quint64 page, const QString &message);
    // Once, when another program holds the port (listening is retried);
    // `holder` names it, or is empty.
    void portInUse(quint16 port, const QString &holder);

public slots:
    void onNewConnection();
    void processMessage(const QString &message);
    void socketDisconnected();

private:
    void broadcast(const QString &message);
    void countFragment(QWebSocket *socket, qint64 bytes, bool last);
    void handOn(const QString &message, const QObject *page);
    void deliverTo(quint64 page, const QString &message);

    ConnectionLimits m_limits;
    QWebSocketServer *m_wsServer = nullptr;
    HttpFront *m_front = nullptr;
    OutgoingMessages *m_outgoing = nullptr;
    HeapTrim *m_heapTrim = nullptr;
    QList<QWebSocket *> m_clientList;
    // Every page gets its turn: one page's burst holds the others back by
    // about one request each.
    RequestQueue *m_requests = nullptr;
    QHash<QWebSocket *, qint64> m_fragmentBytes; // parts of messages not yet whole
    // Every connection's identity, taken from a counter when it opens.
    QHash<const QObject *, quint64> m_pageIds;
    quint64 m_lastPageId = 0;
};
