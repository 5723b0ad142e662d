#include "web/WebsocketHandler.h"

#include "web/requestqueue.h"

#include <QDebug>
#include <QHostAddress>
#include <QTcpSocket>
#include <QWebSocket>
#include <QWebSocketServer>

static QString getIdentifier(QWebSocket *peer)
{
    return QStringLiteral("%1:%2").arg(peer->peerAddress().toString(), QString::number(peer->peerPort()));
}

WebsocketHandler::WebsocketHandler(unsigned short port, QObject *parent) : QObject(parent)
{
    qDebug() << "WebSocket server:" << port;
    m_requests = new RequestQueue(this);
    connect(m_requests, &RequestQueue::request, this, &WebsocketHandler::OnProcessMessage);
    m_wsServer = new QWebSocketServer(QStringLiteral("Server"), QWebSocketServer::NonSecureMode, this);
    if (m_wsServer->listen(QHostAddress::Any, port))
        connect(m_wsServer, &QWebSocketServer::newConnection, this, &WebsocketHandler::onNewConnection);
}

WebsocketHandler::~WebsocketHandler()
{
    clearClient();
    if (m_wsServer) {
        m_wsServer->close();
        delete m_wsServer;
        m_wsServer = nullptr;
    }
}

bool WebsocketHandler::isListening() const
{
    return m_wsServer && m_wsServer->isListening();
}

quint16 WebsocketHandler::serverPort() const
{
    return m_wsServer ? m_wsServer->serverPort() : 0;
}

void WebsocketHandler::onNewConnection()
{
    QWebSocket *socket = m_wsServer->nextPendingConnection();
    if (!socket)
        return;
    qDebug().noquote() << "new connection=====" << getIdentifier(socket);
    socket->setParent(this);
    socket->setMaxAllowedIncomingMessageSize(kMaxIncomingMessageBytes);
    socket->setMaxAllowedIncomingFrameSize(kMaxIncomingMessageBytes);
    // A frame goes out as header and payload writes: without this, Nagle's
    // rule holds the payload's last segment for the page's delayed ACK.
    if (auto *tcp = socket->findChild<QTcpSocket *>())
        tcp->setSocketOption(QAbstractSocket::LowDelayOption, 1);

    connect(socket, &QWebSocket::textMessageReceived, this, &WebsocketHandler::processMessage);
    connect(socket, &QWebSocket::disconnected, this, &WebsocketHandler::socketDisconnected);
    // The socket is the context: an emission from another thread is queued to
    // the socket's thread, each message a copy, in emission order.
    connect(this, &WebsocketHandler::sendMessageToWebClient, socket,
            [this, socket](const QString &message) { deliver(socket, message); });
    m_clientList.append(socket);
}

void WebsocketHandler::deliver(QWebSocket *socket, const QString &message)
{
    socket->sendTextMessage(message);
    // Only what the kernel refuses counts against the page: bytes left in
    // Qt's buffer after a flush wait behind a full socket buffer, which a
    // page that reads keeps emptying.
    if (socket->bytesToWrite() > kMaxQueuedBytesPerClient)
        socket->flush();
    if (socket->bytesToWrite() > kMaxQueuedBytesPerClient) {
        qWarning().noquote() << "client" << getIdentifier(socket) << "stopped reading; dropping it";
        socket->abort();
    }
}

void WebsocketHandler::processMessage(const QString &message)
{
    m_requests->add(sender(), message);
}

void WebsocketHandler::socketDisconnected()
{
    auto *socket = qobject_cast<QWebSocket *>(sender());
    if (!socket)
        return;
    m_clientList.removeAll(socket);
    socket->deleteLater();
}

void WebsocketHandler::sendMessage(const QString &message)
{
    emit sendMessageToWebClient(message);
}

void WebsocketHandler::clearClient()
{
    for (int i = m_clientList.size() - 1; i >= 0; --i) {
        QWebSocket *socket = m_clientList.at(i);
        QObject::disconnect(socket, nullptr, nullptr, nullptr);
        socket->close(QWebSocketProtocol::CloseCodeNormal, QString());
        socket->flush();
    }
    qDeleteAll(m_clientList);
    m_clientList.clear();
}
