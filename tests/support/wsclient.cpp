#include "support/wsclient.h"

#include <QJsonDocument>
#include <QTest>
#include <QUrl>

WsClient::WsClient(QObject *parent) : QObject(parent)
{
    connect(&socket, &QWebSocket::textMessageReceived, this, [this](const QString &m) { messages << m; });
    connect(&socket, &QWebSocket::disconnected, this, [this] {
        disconnected = true;
        closeCode = socket.closeCode();
        closeReason = socket.closeReason();
    });
}

bool WsClient::open(quint16 port, int timeoutMs)
{
    socket.open(QUrl(QStringLiteral("ws://127.0.0.1:%1").arg(port)));
    return QTest::qWaitFor([this] { return socket.state() == QAbstractSocket::ConnectedState; }, timeoutMs);
}

void WsClient::send(const QString &text)
{
    socket.sendTextMessage(text);
}

void WsClient::sendJson(const QJsonObject &object)
{
    send(QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)));
}

bool WsClient::waitForMessages(int count, int timeoutMs)
{
    return QTest::qWaitFor([&] { return messages.size() >= count; }, timeoutMs);
}

bool WsClient::waitForDisconnect(int timeoutMs)
{
    return QTest::qWaitFor([this] { return disconnected; }, timeoutMs);
}

bool WsClient::roundTrip(int timeoutMs)
{
    const QByteArray payload = "round trip " + QByteArray::number(++m_pings);
    bool answered = false;
    const QMetaObject::Connection watch =
        connect(&socket, &QWebSocket::pong, this, [&](quint64, const QByteArray &echoed) {
            answered = answered || echoed == payload;
        });
    socket.ping(payload);
    const bool ok = QTest::qWaitFor([&] { return answered; }, timeoutMs);
    disconnect(watch);
    return ok;
}

QList<QJsonObject> WsClient::jsonMessages() const
{
    QList<QJsonObject> result;
    for (const QString &m : messages)
        result << QJsonDocument::fromJson(m.toUtf8()).object();
    return result;
}
