#include "web/httpfront.h"

#include "web/handover.h"
#include "web/hostpolicy.h"
#include "web/lingeringclose.h"
#include "web/portholder.h"
#include "web/requesthead.h"

#include <QDebug>
#include <QSocketNotifier>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QWebSocket>
#include <QWebSocketServer>

#include <fcntl.h>
#include <sys/socket.h>

#include <cerrno>
#include <unistd.h>

static void initPageResources()
{
    Q_INIT_RESOURCE(webpage);
}

namespace {
// True when `n` more descriptors could be opened: accepting resumes only
// then, so a freed descriptor is not at once taken by yet another connection.
bool descriptorsToSpare(int n)
{
    int fds[8];
    int opened = 0;
    while (opened < n && opened < 8 && (fds[opened] = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 0)) >= 0)
        ++opened;
    for (int i = 0; i < opened; ++i)
        close(fds[i]);
    return opened >= n;
}

// The driver's own page and every file of the client package it loads.
struct PageFile
{
    const char *path;
    const char *resource;
    const char *type;
};

const PageFile kPageFiles[] = {
    {"/", ":/page/index.html", "text/html; charset=utf-8"},
    {"/zqsign-client.js", ":/page/zqsign-client.js", "text/javascript; charset=utf-8"},
    {"/zqsign-client.mjs", ":/page/zqsign-client.mjs", "text/javascript; charset=utf-8"},
    {"/zqsign-element.js", ":/page/zqsign-element.js", "text/javascript; charset=utf-8"},
};

const PageFile *pageFile(const QByteArray &path)
{
    for (const PageFile &file : kPageFiles)
        if (path == file.path)
            return &file;
    return nullptr;
}

QString peerOf(QTcpSocket *socket)
{
    return QStringLiteral("%1:%2").arg(socket->peerAddress().toString()).arg(socket->peerPort());
}

// A header value as the log shows it: quoted, and cut short.
QByteArray quoted(const QByteArray &value)
{
    constexpr int kShown = 200;
    return '"' + value.left(kShown) + (value.size() > kShown ? "...\"" : "\"");
}
} // namespace

HttpFront::HttpFront(QWebSocketServer *wsServer, const ListenSettings &settings, quint16 port,
                     const ConnectionLimits *limits, QObject *parent)
    : QObject(parent), m_wsServer(wsServer), m_handOverListener(new HandOverListener(this)), m_limits(limits),
      m_settings(settings),
      m_policy(settings.allowedOrigins(), port), m_port(port),
      m_retryTimer(new QTimer(this)), m_resumeTimer(new QTimer(this))
{
    initPageResources();
    if (!m_settings.loopbackOnly())
        qWarning().noquote() << "WebSocket server: listening on non-loopback addresses, open to the network";
    if (m_policy.restricted())
        qDebug().noquote() << "WebSocket server: pages allowed from" << m_policy.allowList().join(", ");
    for (int i = 0; i < m_settings.addresses().size(); ++i) {
        auto *server = new QTcpServer(this);
        server->setMaxPendingConnections(ConnectionLimits::kMaxPendingHeads);
        m_servers << server;
    }
    m_retryTimer->setInterval(kRetryListenMs);
    connect(m_retryTimer, &QTimer::timeout, this, &HttpFront::listen);
    m_resumeTimer->setSingleShot(true);
    m_resumeTimer->setInterval(kResumeAcceptMs);
    connect(m_resumeTimer, &QTimer::timeout, this, &HttpFront::resumeAccepting);
    connect(m_handOverListener, &HandOverListener::received, this, &HttpFront::admit);
    listen();
    // The own page's origin names the port actually taken (port 0 in tests).
    m_policy = OriginPolicy(m_settings.allowedOrigins(), m_port);
}

bool HttpFront::isListening() const
{
    for (QTcpServer *server : m_servers)
        if (server->isListening())
            return true;
    return false;
}

qint64 HttpFront::bufferedBytes() const
{
    qint64 total = 0;
    for (QObject *object : m_upgraded)
        total += static_cast<QTcpSocket *>(object)->bytesAvailable();
    return total;
}

void HttpFront::listen()
{
    bool missing = false;
    for (int i = 0; i < m_servers.size(); ++i) {
        QTcpServer *server = m_servers.at(i);
        if (server->isListening())
            continue;
        const QHostAddress address = m_settings.addresses().at(i);
        if (server->listen(address, m_port)) {
            takeOverAccepting(server);
            // Port 0 (tests): every address shares the port the first one got.
            m_port = server->serverPort();
            if (m_reportedFailures.remove(server))
                qDebug().noquote() << "WebSocket server: now listening on" << address.toString() << "port" << m_port;
            continue;
        }
        const bool inUse = server->serverError() == QAbstractSocket::AddressInUseError;
        // An address the machine lacks (no IPv6) stays missing; a busy port may be freed.
        missing = missing || inUse;
        if (!m_reportedFailures.contains(server)) {
            m_reportedFailures.insert(server);
            if (inUse)
                qWarning().noquote() << "WebSocket server: port" << m_port << "on" << address.toString()
                                     << "is already in use by another program; retrying every"
                                     << kRetryListenMs / 1000 << "s";
            else
                qWarning().noquote() << "WebSocket server: cannot listen on" << address.toString() << "port"
                                     << m_port << ":" << server->errorString();
        }
        if (inUse && !m_portInUseReported) {
            m_portInUseReported = true;
            const QString holder = describePortHolder(m_port);
            if (!holder.isEmpty())
                qWarning().noquote() << "WebSocket server: port" << m_port << "is held by" << holder;
            // Queued: the first attempt runs in the constructor, before anyone listens.
            const quint16 port = m_port;
            QTimer::singleShot(0, this, [this, port, holder] { emit portInUse(port, holder); });
        }
    }
    if (missing)
        m_retryTimer->start();
    else
        m_retryTimer->stop();
}

// Qt's own accept loop meets EMFILE without telling anyone and, finding the
// listening socket still readable, tries again at once, spinning a core. So
// the front accepts by itself and pauses while descriptors are short.
void HttpFront::takeOverAccepting(QTcpServer *server)
{
    server->pauseAccepting();
    auto *notifier = new QSocketNotifier(server->socketDescriptor(), QSocketNotifier::Read, server);
    notifier->setEnabled(!m_acceptPaused);
    connect(notifier, &QSocketNotifier::activated, this, [this, server] { acceptPending(server); });
    m_notifiers << notifier;
}

// A few at a time: the heads of connections already taken are read between
// turns, so a page whose head is on its way is not pushed out by a crowd of
// connections queued behind it.
void HttpFront::acceptPending(QTcpServer *server)
{
    for (int taken = 0, descriptor; taken < kAcceptsPerTurn && (descriptor = acceptNext(server)) >= 0; ++taken) {
        // Before anything is read: a page of another user's goes to that user's driver.
        const handover::Route route = handover::routeAccepted(descriptor, m_settings.allowedUsers());
        if (route.kind == handover::Route::Passed)
            continue;
        if (route.kind == handover::Route::Serve) {
            admit(descriptor);
            continue;
        }
        auto *socket = new QTcpSocket(this);
        if (socket->setSocketDescriptor(descriptor)) {
            refuseConnection(socket, route.reason);
        } else {
            close(descriptor);
            delete socket;
        }
    }
}

// The next waiting connection's descriptor, or -1 when none waits (accepting
// pauses while descriptors are short).
int HttpFront::acceptNext(QTcpServer *server)
{
    for (;;) {
        const int descriptor = accept4(int(server->socketDescriptor()), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (descriptor >= 0)
            return descriptor;
        if (errno == ECONNABORTED || errno == EINTR)
            continue;
        if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)
            pauseAccepting();
        return -1;
    }
}

void HttpFront::refuseConnection(QTcpSocket *socket, const QByteArray &reason)
{
    const QByteArray body = reason.isEmpty() ? QByteArray() : reason + '\n';
    const QByteArray type = body.isEmpty() ? QByteArray() : QByteArrayLiteral("Content-Type: text/plain\r\n");
    socket->write("HTTP/1.1 503 Service Unavailable\r\n" + type + "Content-Length: " + QByteArray::number(body.size())
                  + "\r\nConnection: close\r\n\r\n" + body);
    socket->disconnectFromHost();
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    if (socket->state() == QAbstractSocket::UnconnectedState)
        socket->deleteLater();
}

// A connection beyond the bound of unfinished heads takes the place of the
// oldest one, which a page sends at once and only a slow or idle client
// holds; beyond the bound of connections past their head it is refused with
// 503.
void HttpFront::admit(int descriptor)
{
    auto *socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        close(descriptor);
        delete socket;
        return;
    }
    if (!m_limits->mayHoldHead(m_pending.size()) && !m_pending.isEmpty()) {
        auto *oldest = static_cast<QTcpSocket *>(m_pending.first());
        qWarning().noquote() << "WebSocket server: dropping the unfinished request head of" << peerOf(oldest)
                             << "for a new connection";
        forget(oldest);
        oldest->abort();
        oldest->deleteLater();
    }
    const int pastTheirHead = m_open.size() - m_pending.size();
    if (!m_limits->mayAccept(pastTheirHead)) {
        qWarning().noquote() << "WebSocket server: refusing" << peerOf(socket) << "(503) -" << pastTheirHead
                             << "connections open";
        refuseConnection(socket, QByteArray());
        return;
    }
    socket->setReadBufferSize(ConnectionLimits::kMaxHeadBytes);
    // A frame goes out as header and payload writes: without this, Nagle's
    // rule holds a picture behind the page's delayed ACK of the one before.
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    m_open.insert(socket);
    m_pending.append(socket);
    connect(socket, &QObject::destroyed, this, &HttpFront::forget);
    connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
        forget(socket);
        socket->deleteLater();
    });
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] { examineHead(socket); });
    // A client that never finishes its head gives up its slot.
    QTimer::singleShot(ConnectionLimits::kHeadTimeoutMs, socket, [this, socket] {
        if (m_pending.contains(socket)) {
            qWarning().noquote() << "WebSocket server: no request head from" << peerOf(socket) << "in time";
            socket->abort();
        }
    });
}

// Descriptors come back when a connection closes, or a while later.
void HttpFront::pauseAccepting()
{
    if (!m_acceptPaused)
        qWarning().noquote() << "WebSocket server: cannot accept (out of file descriptors); pausing";
    m_acceptPaused = true;
    for (QSocketNotifier *notifier : qAsConst(m_notifiers))
        notifier->setEnabled(false);
    m_resumeTimer->start();
}

void HttpFront::resumeAccepting()
{
    if (!m_acceptPaused)
        return;
    if (!descriptorsToSpare(ConnectionLimits::kSpareDescriptors)) {
        m_resumeTimer->start();
        return;
    }
    qDebug().noquote() << "WebSocket server: accepting again";
    m_acceptPaused = false;
    for (QSocketNotifier *notifier : qAsConst(m_notifiers))
        notifier->setEnabled(true);
}

void HttpFront::forget(QObject *socket)
{
    m_pending.removeOne(socket);
    m_upgraded.remove(socket);
    if (m_open.remove(socket) && m_acceptPaused) {
        m_resumeTimer->stop();
        resumeAccepting();
    }
}

void HttpFront::examineHead(QTcpSocket *socket)
{
    if (!m_pending.contains(socket))
        return;
    // Peeked, not read: an upgrade goes on to the WebSocket server whole.
    const RequestHead head = parseRequestHead(socket->peek(ConnectionLimits::kMaxHeadBytes),
                                              ConnectionLimits::kMaxHeadLineBytes, ConnectionLimits::kMaxHeadBytes);
    switch (head.state) {
    case RequestHead::Incomplete:
        return;
    case RequestHead::TooLarge:
        refuse(socket, "431 Request Header Fields Too Large", head.refusal);
        return;
    case RequestHead::Invalid:
        refuse(socket, "400 Bad Request", head.refusal);
        return;
    case RequestHead::Complete:
        break;
    }
    // A program may leave Host out; a browser never does, and a page of
    // another site that has its name resolve here (DNS rebinding) sends it.
    if (head.hasHost && !hostAllowed(head.host, m_settings.addresses(), m_settings.allowedHosts())) {
        refuse(socket, "403 Forbidden", "Host " + quoted(head.host) + " is not this machine");
        return;
    }
    if (head.upgrade) {
        if (!m_policy.allows(head.hasOrigin, head.origin)) {
            refuse(socket, "403 Forbidden", "origin " + quoted(head.origin) + " is not allowed");
            return;
        }
        m_pending.removeOne(socket);
        handOver(socket);
        return;
    }
    m_pending.removeOne(socket);
    socket->read(socket->bytesAvailable());
    const PageFile *page = pageFile(head.path);
    QFile file(page ? QString::fromLatin1(page->resource) : QString());
    if (head.method != "GET" || !page || !file.open(QIODevice::ReadOnly)) {
        answer(socket, "404 Not Found", "text/plain", "Not Found\n");
        return;
    }
    answer(socket, "200 OK", page->type, file.readAll());
}

void HttpFront::refuse(QTcpSocket *socket, const QByteArray &status, const QByteArray &why)
{
    qWarning().noquote() << "WebSocket server: refusing the request of" << peerOf(socket) << "(" + status + "):"
                         << QString::fromUtf8(why);
    m_pending.removeOne(socket);
    answer(socket, status, "text/plain", status.mid(status.indexOf(' ') + 1) + "\n");
}

void HttpFront::handOver(QTcpSocket *socket)
{
    disconnect(socket, &QTcpSocket::readyRead, this, nullptr);
    m_upgraded.insert(socket);
    socket->setReadBufferSize(0);
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] { checkReceiving(socket); });
    m_wsServer->handleConnection(socket);
}

void HttpFront::lingerAfterClose(const QWebSocket *page)
{
    if (!m_limits->mayLinger(findChildren<LingeringClose *>(QString(), Qt::FindDirectChildrenOnly).size()))
        return;
    for (QObject *object : qAsConst(m_upgraded)) {
        auto *socket = static_cast<QTcpSocket *>(object);
        if (socket->peerPort() != page->peerPort() || socket->peerAddress() != page->peerAddress())
            continue;
        if (socket->socketDescriptor() < 0)
            return;
        const int descriptor = fcntl(int(socket->socketDescriptor()), F_DUPFD_CLOEXEC, 0);
        if (descriptor < 0)
            return;
        auto *lingering = new LingeringClose(descriptor, this);
        connect(socket, &QTcpSocket::disconnected, lingering, &LingeringClose::start);
        connect(socket, &QObject::destroyed, lingering, &LingeringClose::start);
        return;
    }
}

void HttpFront::checkReceiving(QTcpSocket *socket)
{
    qint64 total = 0;
    QTcpSocket *largest = socket;
    for (QObject *object : qAsConst(m_upgraded)) {
        auto *s = static_cast<QTcpSocket *>(object);
        total += s->bytesAvailable();
        if (s->bytesAvailable() > largest->bytesAvailable())
            largest = s;
    }
    if (m_limits->mayKeepReceiving(total))
        return;
    qWarning().noquote() << "WebSocket server:" << total << "bytes being received in all; dropping"
                         << peerOf(largest) << "with" << largest->bytesAvailable();
    largest->abort();
}

void HttpFront::answer(QTcpSocket *socket, const QByteArray &status, const QByteArray &type, const QByteArray &body)
{
    socket->write("HTTP/1.1 " + status + "\r\nContent-Type: " + type + "\r\nContent-Length: "
                  + QByteArray::number(body.size())
                  + "\r\nX-Content-Type-Options: nosniff\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n"
                  + body);
    socket->disconnectFromHost();
}
