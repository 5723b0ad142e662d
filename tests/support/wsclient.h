#pragma once

#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QStringList>
#include <QWebSocket>

// A web page's side of the connection, for tests: connects, sends, and
// records every text message and how the connection ended.
class WsClient : public QObject
{
    Q_OBJECT
public:
    explicit WsClient(QObject *parent = nullptr);

    bool open(quint16 port = 36325, int timeoutMs = 5000);
    void send(const QString &text);
    void sendJson(const QJsonObject &object);
    bool waitForMessages(int count, int timeoutMs = 5000);
    bool waitForDisconnect(int timeoutMs = 5000);
    // Pings and waits for the answer: whatever the other side wrote before it
    // read the ping has arrived by then.
    bool roundTrip(int timeoutMs = 10000);

    QStringList messages;
    QList<QJsonObject> jsonMessages() const;
    bool disconnected = false;
    QWebSocketProtocol::CloseCode closeCode = QWebSocketProtocol::CloseCodeNormal;
    QString closeReason;
    QWebSocket socket;

private:
    int m_pings = 0;
};
