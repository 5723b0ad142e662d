#include "web/WebsocketHandler.h"

#include "web/heaptrim.h"
#include "web/httpfront.h"
#include "web/outgoingmessages.h"
#include "web/requestqueue.h"

#include <QDebug>
#include <QHostAddress>
#include <QTcpSocket>
#include <QTimer>
#include <QWebSocket>
#include <QWebSocketServer>

static QString getIdentifier(QWebSocket *peer)
{
    return QStringLiteral("%1:%2").arg(peer->peerAddress().toString(), QString::number(peer->peerPort()));
}

WebsocketHandler::WebsocketHandler(unsigned short port, QObject *parent, const ListenSettings &settings)
    : QObject(parent)
{
    qDebug() << "WebSocket server:" << port;
    m_requests = new RequestQueue(this);
    connect(m_requests, &RequestQueue::request, this, &WebsocketHandler::handOn);
    m_outgoing = new OutgoingMessages(&m_limits, this);
    m_heapTrim = new HeapTrim(this);
    // One delivery per message, in the handler's thread (queued from any
    // other), each message a copy, in emission order.
    connect(this, &WebsocketHandler::sendMessageToWebClient, this, &WebsocketHandler::broadcast);
    connect(this, &WebsocketHandler::deliveryRequested, this, &WebsocketHandler::deliverTo);
    m_wsServer = new QWebSocketServer(QStringLiteral("Server"), QWebSocketServer::NonSecureMode, this);
    connect(m_wsServer, &QWebSocketServer::newConnection, this, &WebsocketHandler::onNewConnection);
    // Connections arrive through the front, never through a listen() of the server itself.
    m_front = new HttpFront(m_wsServer, settings, port, &m_limits, this);
    connect(m_front, &HttpFront::portInUse, this, &WebsocketHandler::portInUse);
}

WebsocketHandler::~WebsocketHandler()
{
    clearClient();
    delete m_front; // its sockets first: it hands them to the server
    m_front = nullptr;
    if (m_wsServer) {
        m_wsServer->close();
        delete m_wsServer;
        m_wsServer = nullptr;
    }
}

bool WebsocketHandler::isListening() const
{
    return m_front->isListening();
}

quint16 WebsocketHandler::serverPort() const
{
    return m_front->serverPort();
}

void WebsocketHandler::onNewConnection()
{
    QWebSocket *socket = m_wsServer->nextPendingConnection();
    if (!socket)
        return;
    qDebug().noquote() << "new connection=====" << getIdentifier(socket);
    socket->setParent(this);
    socket->setMaxAllowedIncomingMessageSize(ConnectionLimits::kMaxIncomingMessageBytes);
    socket->setMaxAllowedIncomingFrameSize(ConnectionLimits::kMaxIncomingMessageBytes);

    connect(socket, &QWebSocket::textMessageReceived, this, &WebsocketHandler::processMessage);
    connect(socket, &QWebSocket::disconnected, this, &WebsocketHandler::socketDisconnected);
    // Emitted as the close frame goes out, before the connection is closed.
    connect(socket, &QWebSocket::aboutToClose, this, [this, socket] { m_front->lingerAfterClose(socket); });
    connect(socket, &QWebSocket::textFrameReceived, this, [this, socket](const QString &frame, bool last) {
        countFragment(socket, frame.size(), last);
    });
    connect(socket, &QWebSocket::binaryFrameReceived, this, [this, socket](const QByteArray &frame, bool last) {
        countFragment(socket, frame.size(), last);
    });
    m_outgoing->addPage(socket);
    m_clientList.append(socket);
    m_pageIds.insert(socket, ++m_lastPageId);
}

// A request of a page that has closed meanwhile still runs (a confirm sent
// just before closing saves), under identity 0, which no page has.
void WebsocketHandler::handOn(const QString &message, const QObject *page)
{
    emit pageMessage(m_pageIds.value(page, 0), message);
    emit OnProcessMessage(message);
}

void WebsocketHandler::requestHandled(const QString &message)
{
    m_limits.requestHandled(message);
}

void WebsocketHandler::deliverTo(quint64 page, const QString &message)
{
    for (auto it = m_pageIds.cbegin(); it != m_pageIds.cend(); ++it) {
        if (it.value() == page) {
            m_outgoing->send(static_cast<QWebSocket *>(const_cast<QObject *>(it.key())), message);
            return;
        }
    }
}

void WebsocketHandler::broadcast(const QString &message)
{
    for (QWebSocket *socket : qAsConst(m_clientList))
        m_outgoing->send(socket, message);
    m_heapTrim->noteTraffic(qint64(message.size()) * m_clientList.size());
}

void WebsocketHandler::countFragment(QWebSocket *socket, qint64 bytes, bool last)
{
    if (last) {
        m_fragmentBytes.remove(socket);
        return;
    }
    m_fragmentBytes[socket] += bytes;
    qint64 total = m_front->bufferedBytes();
    for (qint64 held : qAsConst(m_fragmentBytes))
        total += held;
    if (!m_limits.mayKeepReceiving(total)) {
        qWarning().noquote() << "client" << getIdentifier(socket) << "holds part of a message while" << total
                             << "bytes are being received in all; dropping it";
        m_fragmentBytes.remove(socket);
        socket->close(QWebSocketProtocol::CloseCodeTooMuchData);
    }
}

void WebsocketHandler::processMessage(const QString &message)
{
    auto *page = qobject_cast<QWebSocket *>(sender());
    if (!m_limits.admitRequest(message, m_requests->hasWaiting(page))) {
        qWarning().noquote() << "WebSocket server: a request of" << message.size() << "characters from"
                             << (page ? getIdentifier(page) : QString()) << "dropped;" << m_limits.requestBytesHeld()
                             << "bytes of requests are held";
        return;
    }
    m_requests->add(page, message);
    m_heapTrim->noteTraffic(message.size());
}

void WebsocketHandler::socketDisconnected()
{
    auto *socket = qobject_cast<QWebSocket *>(sender());
    if (!socket)
        return;
    m_clientList.removeAll(socket);
    m_outgoing->removePage(socket);
    m_fragmentBytes.remove(socket);
    m_heapTrim->noteRelease();
    const quint64 page = m_pageIds.take(socket);
    socket->deleteLater();
    if (page)
        emit pageClosed(page);
}

void WebsocketHandler::sendMessage(const QString &message)
{
    emit sendMessageToWebClient(message);
}

void WebsocketHandler::sendMessageTo(quint64 page, const QString &message)
{
    // Like sendMessage: direct in the handler's thread, else queued. A signal,
    // not a posted functor: Qt copies its arguments, whereas a functor made
    // here and run there is ordered only by Qt's event queue, which
    // ThreadSanitizer cannot see.
    emit deliveryRequested(page, message);
}

void WebsocketHandler::clearClient()
{
    m_outgoing->flushAll();
    for (int i = m_clientList.size() - 1; i >= 0; --i) {
        QWebSocket *socket = m_clientList.at(i);
        QObject::disconnect(socket, nullptr, nullptr, nullptr);
        socket->close(QWebSocketProtocol::CloseCodeNormal, QString());
        socket->flush();
        m_outgoing->removePage(socket);
    }
    qDeleteAll(m_clientList);
    m_clientList.clear();
    m_fragmentBytes.clear();
    m_pageIds.clear();
}
