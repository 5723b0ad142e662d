#pragma once

#include "web/connectionlimits.h"
#include "web/listensettings.h"
#include "web/originpolicy.h"

#include <QList>
#include <QObject>
#include <QSet>

class HandOverListener;
class QTcpServer;
class QSocketNotifier;
class QTcpSocket;
class QTimer;
class QWebSocket;
class QWebSocketServer;

// The service port's front door. Owns the listening sockets (loopback unless
// the settings say otherwise), reads each request head within bounds, refuses
// (logged, with the reason) heads that are malformed, too large, or name
// another host, answers plain GETs for the driver's own page and hands
// WebSocket upgrades from allowed origins to the WebSocket server. Asks the
// server's limits before it holds more for pages: open connections,
// unfinished heads, bytes being received, closing connections kept open. A
// connection of another user's page goes to that user's driver as it is
// accepted, and connections other drivers pass here are served like its own
// (handover.h).
class HttpFront : public QObject
{
    Q_OBJECT
public:
    static constexpr int kRetryListenMs = 3000;
    static constexpr int kResumeAcceptMs = 1000;
    static constexpr int kAcceptsPerTurn = 8;

    // `limits` belongs to the caller and outlives the front.
    HttpFront(QWebSocketServer *wsServer, const ListenSettings &settings, quint16 port, const ConnectionLimits *limits,
              QObject *parent);

    bool isListening() const;
    // Bytes of unfinished frames waiting in the connections' buffers.
    qint64 bufferedBytes() const;
    quint16 serverPort() const { return m_port; }
    const OriginPolicy &originPolicy() const { return m_policy; }
    const ListenSettings &settings() const { return m_settings; }
    // Called as the WebSocket server sends a close frame on `page`: the
    // connection then ends so that the page can read it (see LingeringClose),
    // as many at a time as the limits allow.
    void lingerAfterClose(const QWebSocket *page);

signals:
    // Once, when another program holds the port; listening is retried.
    // `holder` names it (see describePortHolder), or is empty.
    void portInUse(quint16 port, const QString &holder);

private:
    void listen();
    void takeOverAccepting(QTcpServer *server);
    void acceptPending(QTcpServer *server);
    int acceptNext(QTcpServer *server);
    // Serves an accepted connection, or refuses it within the limits.
    void admit(int descriptor);
    // 503, with `reason` as the body when there is one.
    void refuseConnection(QTcpSocket *socket, const QByteArray &reason);
    void pauseAccepting();
    void examineHead(QTcpSocket *socket);
    void refuse(QTcpSocket *socket, const QByteArray &status, const QByteArray &why);
    void handOver(QTcpSocket *socket);
    void answer(QTcpSocket *socket, const QByteArray &status, const QByteArray &type, const QByteArray &body);
    void forget(QObject *socket);
    void checkReceiving(QTcpSocket *socket);
    void resumeAccepting();

    QWebSocketServer *m_wsServer;
    HandOverListener *m_handOverListener; // other drivers pass our user's pages here
    const ConnectionLimits *m_limits;
    ListenSettings m_settings;
    OriginPolicy m_policy;
    quint16 m_port;
    QList<QTcpServer *> m_servers;
    QList<QSocketNotifier *> m_notifiers; // one per listening server, accepting in its stead
    QTimer *m_retryTimer;
    QTimer *m_resumeTimer;
    bool m_portInUseReported = false;
    bool m_acceptPaused = false;
    QSet<QTcpServer *> m_reportedFailures;
    QSet<QObject *> m_open;     // every accepted connection still alive
    // Head not yet complete, oldest first. Held as QObject: forget() sees
    // them while they are destroyed, no longer sockets.
    QList<QObject *> m_pending;
    QSet<QObject *> m_upgraded; // handed to the WebSocket server
};
