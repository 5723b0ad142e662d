// The service port's front: loopback listening, the driver's own page over
// plain HTTP, the origin allow-list and the bounds on what clients can hold.

#include "support/testenv.h"
#include "support/wsclient.h"
#include "web/WebsocketHandler.h"
#include "web/httpfront.h"
#include "web/hostpolicy.h"
#include "web/originpolicy.h"
#include "web/requesthead.h"
#include "web/socketowner.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QWebSocket>

#include <memory>
#include <unistd.h>

namespace {

// The server runs in this thread: clients wait with the event loop running.
// How long the front is watched for something that must not happen.
constexpr int kAbsenceWatchMs = 300;

bool waitConnected(QTcpSocket &socket)
{
    return QTest::qWaitFor([&] { return socket.state() == QAbstractSocket::ConnectedState
                                        || socket.state() == QAbstractSocket::UnconnectedState; }, 3000)
        && socket.state() == QAbstractSocket::ConnectedState;
}

bool waitReadable(QTcpSocket &socket, int timeoutMs = 3000)
{
    return QTest::qWaitFor([&] { return socket.bytesAvailable() > 0; }, timeoutMs);
}

struct HttpReply
{
    int status = 0;
    QByteArray contentType;
    QByteArray body;
};

HttpReply httpRequest(quint16 port, const QByteArray &request)
{
    HttpReply reply;
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!waitConnected(socket))
        return reply;
    socket.write(request);
    // The front closes after its answer.
    if (!QTest::qWaitFor([&] { return socket.state() == QAbstractSocket::UnconnectedState; }, 5000))
        return reply;
    const QByteArray all = socket.readAll();
    const int end = all.indexOf("\r\n\r\n");
    if (end < 0)
        return reply;
    const QList<QByteArray> lines = all.left(end).split('\n');
    reply.status = lines.first().split(' ').value(1).toInt();
    for (const QByteArray &line : lines)
        if (line.toLower().startsWith("content-type:"))
            reply.contentType = line.mid(13).trimmed();
    reply.body = all.mid(end + 4);
    return reply;
}

// A handshake with the origin `socket` was made with; true when it connects.
bool connectsWithOrigin(quint16 port, QWebSocket &socket)
{
    socket.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/").arg(port)));
    return QTest::qWaitFor([&] { return socket.state() == QAbstractSocket::ConnectedState
                                        || socket.state() == QAbstractSocket::UnconnectedState; }, 5000)
        && socket.state() == QAbstractSocket::ConnectedState;
}

// A WebSocket client made of a bare TCP socket, to send frames as a hostile page would.
bool rawHandshake(QTcpSocket &socket, quint16 port)
{
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!waitConnected(socket))
        return false;
    socket.write("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                 "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n");
    QByteArray reply;
    while (!reply.contains("\r\n\r\n") && waitReadable(socket))
        reply += socket.readAll();
    return reply.startsWith("HTTP/1.1 101");
}

// The start of a masked text frame of `length` bytes.
QByteArray frameHeader(quint64 length)
{
    QByteArray header("\x81\xff", 2);
    for (int i = 7; i >= 0; --i)
        header.append(char((length >> (8 * i)) & 0xff));
    header.append(QByteArray(4, '\0')); // a zero mask leaves the payload as it is
    return header;
}

bool tcpConnects(const QHostAddress &address, quint16 port)
{
    QTcpSocket socket;
    socket.connectToHost(address, port);
    return waitConnected(socket);
}

QByteArray sourceFile(const QString &relative)
{
    QFile file(sourcePath(relative));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestHttpFront : public QObject
{
    Q_OBJECT

private slots:
    void requestHeadsAreParsed()
    {
        const int line = ConnectionLimits::kMaxHeadLineBytes;
        const int max = ConnectionLimits::kMaxHeadBytes;
        RequestHead h = parseRequestHead("GET / HTTP/1.1\r\nHost: x\r\nOrigin: null\r\n\r\n", line, max);
        QCOMPARE(h.state, RequestHead::Complete);
        QCOMPARE(h.method, QByteArray("GET"));
        QCOMPARE(h.path, QByteArray("/"));
        QVERIFY(!h.upgrade);
        QVERIFY(h.hasOrigin);
        QCOMPARE(h.origin, QByteArray("null"));
        QVERIFY(h.hasHost);
        QCOMPARE(h.host, QByteArray("x"));
        h = parseRequestHead("GET /x HTTP/1.1\r\nUpgrade: WebSocket\r\n\r\n", line, max);
        QVERIFY(h.upgrade);
        QVERIFY(!h.hasOrigin);
        QVERIFY(!h.hasHost);
        QCOMPARE(parseRequestHead("GET / HTTP/1.1\r\nHost: x\r\n", line, max).state, RequestHead::Incomplete);
        QCOMPARE(parseRequestHead("GET/ HTTP/1.1\r\n\r\n", line, max).state, RequestHead::Invalid);
        QCOMPARE(parseRequestHead("GET / HTTP/1.1\r\nno colon\r\n\r\n", line, max).state, RequestHead::Invalid);
        QCOMPARE(parseRequestHead("GET / HTTP/1.1\r\nOrigin: a\r\nOrigin: b\r\n\r\n", line, max).state,
                 RequestHead::Invalid);
        QCOMPARE(parseRequestHead("GET / HTTP/1.1\r\nHost: a\r\nHost: b\r\n\r\n", line, max).state,
                 RequestHead::Invalid);

        // Lines of up to 8 KiB, heads of up to 32 KiB, the blank line included.
        const QByteArray start = "GET / HTTP/1.1\r\n";
        const QByteArray longest = "Cookie: " + QByteArray(line - 8, 'c') + "\r\n";
        QCOMPARE(parseRequestHead(start + longest + "\r\n", line, max).state, RequestHead::Complete);
        const QByteArray tooLong = "Cookie: " + QByteArray(line - 7, 'c');
        QCOMPARE(parseRequestHead(start + tooLong + "\r\n\r\n", line, max).state, RequestHead::TooLarge);
        QCOMPARE(parseRequestHead(start + tooLong, line, max).state, RequestHead::TooLarge); // before it ends
        QByteArray full = start;
        while (full.size() + longest.size() + 2 <= max)
            full += longest;
        full += "X: " + QByteArray(max - full.size() - 7, 'x') + "\r\n\r\n";
        QCOMPARE(full.size(), max);
        QCOMPARE(parseRequestHead(full, line, max).state, RequestHead::Complete);
        full.insert(start.size(), "Y: y\r\n");
        QCOMPARE(parseRequestHead(full, line, max).state, RequestHead::TooLarge);
        QCOMPARE(parseRequestHead(full.left(max), line, max).state, RequestHead::TooLarge); // before it ends
    }

    void hostsNameThisMachine_data()
    {
        QTest::addColumn<QByteArray>("host");
        QTest::addColumn<bool>("allowed");
        QTest::newRow("loopback, any port") << QByteArray("127.0.0.1:36325") << true;
        QTest::newRow("loopback, other port") << QByteArray("127.0.0.1:8080") << true;
        QTest::newRow("loopback, no port") << QByteArray("127.0.0.1") << true;
        QTest::newRow("loopback net") << QByteArray("127.3.2.1:9") << true;
        QTest::newRow("localhost") << QByteArray("localhost:36325") << true;
        QTest::newRow("LOCALHOST.") << QByteArray("LOCALHOST.:1") << true;
        QTest::newRow("under .localhost") << QByteArray("app.localhost:36325") << true;
        QTest::newRow("IPv6 loopback") << QByteArray("[::1]:36325") << true;
        QTest::newRow("IPv6 loopback, no port") << QByteArray("[::1]") << true;
        QTest::newRow("listened on") << QByteArray("192.0.2.10:36325") << true;
        QTest::newRow("allowed name") << QByteArray("Sign.Corp.Example:443") << true;
        QTest::newRow("rebinding name") << QByteArray("attacker.example:36325") << false;
        QTest::newRow("localhost lookalike") << QByteArray("localhost.attacker.example") << false;
        QTest::newRow("suffix trick") << QByteArray("evillocalhost:1") << false;
        QTest::newRow("subdomain of allowed") << QByteArray("x.sign.corp.example") << false;
        QTest::newRow("other address") << QByteArray("192.0.2.11:36325") << false;
        QTest::newRow("bad port") << QByteArray("127.0.0.1:x") << false;
        QTest::newRow("empty port") << QByteArray("127.0.0.1:") << false;
        QTest::newRow("unclosed bracket") << QByteArray("[::1") << false;
        QTest::newRow("userinfo") << QByteArray("127.0.0.1@attacker.example") << false;
        QTest::newRow("empty") << QByteArray() << false;
        QTest::newRow("no-break space before") << QByteArray("\xa0" "127.0.0.1") << false;
        QTest::newRow("space inside") << QByteArray("127.0.0.1 :1") << false;
        QTest::newRow("signed address") << QByteArray("+127.0.0.1:36325") << false;
    }

    void hostsNameThisMachine()
    {
        QFETCH(QByteArray, host);
        QFETCH(bool, allowed);
        QCOMPARE(hostAllowed(host, {QHostAddress("192.0.2.10")}, {"sign.corp.example"}), allowed);
    }

    void originsMatchExactlyOrBySubdomain_data()
    {
        QTest::addColumn<QByteArray>("origin");
        QTest::addColumn<bool>("allowed");
        QTest::newRow("exact") << QByteArray("https://app.example.com") << true;
        QTest::newRow("exact, case of host") << QByteArray("https://APP.example.com") << true;
        QTest::newRow("other scheme") << QByteArray("http://app.example.com") << false;
        QTest::newRow("other port") << QByteArray("https://app.example.com:444") << false;
        QTest::newRow("suffix trick") << QByteArray("https://evilapp.example.com") << false;
        QTest::newRow("longer host") << QByteArray("https://app.example.com.evil") << false;
        QTest::newRow("subdomain") << QByteArray("https://a.corp.example:8443") << true;
        QTest::newRow("deeper subdomain") << QByteArray("https://a.b.corp.example:8443") << true;
        QTest::newRow("wildcard base itself") << QByteArray("https://corp.example:8443") << false;
        QTest::newRow("lookalike base") << QByteArray("https://xcorp.example:8443") << false;
        QTest::newRow("subdomain, no port") << QByteArray("https://a.corp.example") << false;
        QTest::newRow("null") << QByteArray("null") << true;
        QTest::newRow("empty") << QByteArray() << false;
        QTest::newRow("userinfo") << QByteArray("https://app.example.com@evil") << false;
    }

    void originsMatchExactlyOrBySubdomain()
    {
        QFETCH(QByteArray, origin);
        QFETCH(bool, allowed);
        const QStringList list{"https://app.example.com", "https://*.corp.example:8443", "null"};
        QCOMPARE(originMatches(origin, list), allowed);
        QVERIFY(!originMatches("null", {"https://app.example.com"}));
    }

    void thePageAndItsScriptsAreServedAndNothingElse()
    {
        WebsocketHandler handler(0);
        QVERIFY(handler.isListening());
        const quint16 port = handler.serverPort();
        HttpReply r = httpRequest(port, "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
        QCOMPARE(r.status, 200);
        QCOMPARE(r.contentType, QByteArray("text/html; charset=utf-8"));
        QCOMPARE(r.body, sourceFile("web/index.html"));
        // Every file of the client package that a page loads, as a script.
        for (const char *file : {"zqsign-client.js", "zqsign-client.mjs", "zqsign-element.js"}) {
            r = httpRequest(port, QByteArray("GET /") + file + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
            QCOMPARE(r.status, 200);
            QCOMPARE(r.contentType, QByteArray("text/javascript; charset=utf-8"));
            QCOMPARE(r.body, sourceFile(QString("web/") + file));
        }
        for (const char *path : {"/index.html", "/web/index.html", "/../README.md", "/zqsign-client.js/", "/?",
                                 "/zqsign-client.d.ts", "/src/client.js", "/package.json"})
            QCOMPARE(httpRequest(port, QByteArray("GET ") + path + " HTTP/1.1\r\n\r\n").status, 404);
        QCOMPARE(httpRequest(port, "POST / HTTP/1.1\r\nContent-Length: 0\r\n\r\n").status, 404);
        QCOMPARE(httpRequest(port, "HEAD / HTTP/1.1\r\n\r\n").status, 404);

        // The WebSocket is on the same port.
        QSignalSpy received(&handler, &WebsocketHandler::OnProcessMessage);
        WsClient page;
        QVERIFY(page.open(port));
        page.send("hello");
        QTRY_COMPARE(received.count(), 1);
        handler.sendMessage("back");
        QVERIFY(page.waitForMessages(1));
    }

    void onlyLoopbackListensUnlessConfigured()
    {
        // This test's own network namespace: an extra address on lo.
        const QString extra = QStringLiteral("10.77.0.1");
        if (QProcess::execute("ip", {"addr", "add", extra + "/32", "dev", "lo"}) != 0)
            QSKIP("cannot add an address to lo here");
        {
            WebsocketHandler handler(36325);
            QVERIFY(handler.isListening());
            QVERIFY(tcpConnects(QHostAddress::LocalHost, 36325));
            QVERIFY(tcpConnects(QHostAddress::LocalHostIPv6, 36325));
            QVERIFY(!tcpConnects(QHostAddress(extra), 36325));
        }
        ListenSettings settings;
        settings.setAddresses({QHostAddress(extra)});
        QVERIFY(!settings.loopbackOnly());
        WebsocketHandler handler(36325, nullptr, settings);
        QVERIFY(tcpConnects(QHostAddress(extra), 36325));
        QVERIFY(!tcpConnects(QHostAddress::LocalHost, 36325));
    }

    void settingsFileChoosesAddressesAndOrigins()
    {
        const QString path = QDir::tempPath() + "/listen.ini";
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[Settings]\nLISTENADDRESSES=127.0.0.1, 10.1.2.3, bogus\nALLOWEDORIGINS=null\n"
                   "ALLOWEDHOSTS=sign.corp.example, other.example\n");
        file.close();
        const ListenSettings s = ListenSettings::fromFile(path);
        QCOMPARE(s.addresses(), (QList<QHostAddress>{QHostAddress("127.0.0.1"), QHostAddress("10.1.2.3")}));
        QCOMPARE(s.allowedOrigins(), QStringList{"null"});
        QCOMPARE(s.allowedHosts(), (QStringList{"sign.corp.example", "other.example"}));
        const ListenSettings none = ListenSettings::fromFile(QDir::tempPath() + "/absent.ini");
        QVERIFY(none.loopbackOnly());
        QCOMPARE(none.addresses().size(), 2);
        QVERIFY(none.allowedOrigins().isEmpty());
        QVERIFY(none.allowedHosts().isEmpty());
    }

    void allowListRefusesOtherOrigins()
    {
        ListenSettings settings;
        settings.setAllowedOrigins({"https://app.example.com"});
        WebsocketHandler handler(0, nullptr, settings);
        const quint16 port = handler.serverPort();
        QSignalSpy received(&handler, &WebsocketHandler::OnProcessMessage);

        QWebSocket allowed(QStringLiteral("https://app.example.com"));
        QVERIFY(connectsWithOrigin(port, allowed));
        allowed.sendTextMessage("from allowed");
        QTRY_COMPARE(received.count(), 1);

        for (const QString &origin : {QStringLiteral("https://evil.example"), QStringLiteral("null")}) {
            QWebSocket other(origin);
            QVERIFY2(!connectsWithOrigin(port, other), qPrintable(origin));
            other.sendTextMessage("{\"bizcode\":\"2023\"}");
        }
        // Raw bytes after a refused head reach nobody either.
        QTcpSocket raw;
        raw.connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(waitConnected(raw));
        raw.write("GET / HTTP/1.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nOrigin: null\r\n"
                  "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n");
        QVERIFY(waitReadable(raw));
        QVERIFY(raw.readAll().startsWith("HTTP/1.1 403"));
        QTest::qWait(kAbsenceWatchMs); // no refused page's message reaches the handler
        QCOMPARE(received.count(), 1);
        QCOMPARE(handler.clientCount(), 1);

        QWebSocket ownPage(QStringLiteral("http://127.0.0.1:%1").arg(port));
        QVERIFY(connectsWithOrigin(port, ownPage));
        QTRY_COMPARE(handler.clientCount(), 2);
    }

    void noAllowListLetsEveryOriginIn()
    {
        WebsocketHandler handler(0);
        QVERIFY(!handler.front()->originPolicy().restricted());
        QWebSocket other(QStringLiteral("https://evil.example")), file(QStringLiteral("null"));
        QVERIFY(connectsWithOrigin(handler.serverPort(), other));
        QVERIFY(connectsWithOrigin(handler.serverPort(), file));
        QTRY_COMPARE(handler.clientCount(), 2);
    }

    // A connection beyond the bound of unfinished heads takes the place of
    // the oldest one; each goes after the head time limit.
    void unfinishedHeadsAreBoundedInNumberAndTime()
    {
        WebsocketHandler handler(0);
        const quint16 port = handler.serverPort();
        std::vector<std::unique_ptr<QTcpSocket>> slow;
        for (int i = 0; i < ConnectionLimits::kMaxPendingHeads; ++i) {
            slow.emplace_back(new QTcpSocket);
            slow.back()->connectToHost(QHostAddress::LocalHost, port);
            QVERIFY(waitConnected(*slow.back()));
            slow.back()->write("GET / HTTP/1.1\r\n");
            QVERIFY(slow.back()->waitForBytesWritten(1000));
        }
        // Connections are accepted in the order they were made, so this
        // one takes the place of the first.
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("dropping the unfinished request head of .* for a new"));
        QCOMPARE(httpRequest(port, "GET / HTTP/1.1\r\n\r\n").status, 200);
        QTRY_VERIFY(slow.front()->state() == QAbstractSocket::UnconnectedState);
        QCOMPARE(std::count_if(slow.begin(), slow.end(),
                               [](const auto &s) { return s->state() == QAbstractSocket::ConnectedState; }),
                 long(ConnectionLimits::kMaxPendingHeads - 1));
        QTRY_VERIFY_WITH_TIMEOUT(std::all_of(slow.begin(), slow.end(), [](const auto &s) {
                                     return s->state() == QAbstractSocket::UnconnectedState;
                                 }),
                                 ConnectionLimits::kHeadTimeoutMs + 5000);
    }

    // Each refusal is answered with its status and logged with its reason.
    void oversizedHeadsAreRefusedAndLogged()
    {
        WebsocketHandler handler(0);
        const quint16 port = handler.serverPort();
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("\\(431 .*\\): the request head is too long"));
        QByteArray big = "GET / HTTP/1.1\r\n";
        while (big.size() <= ConnectionLimits::kMaxHeadBytes)
            big += "X: " + QByteArray(4000, 'a') + "\r\n";
        QCOMPARE(httpRequest(port, big).status, 431);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("\\(431 .*\\): a header line is too long"));
        QCOMPARE(httpRequest(port, "GET / HTTP/1.1\r\nCookie: " + QByteArray(ConnectionLimits::kMaxHeadLineBytes, 'a'))
                     .status,
                 431);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("\\(400 .*\\): the request line is malformed"));
        QCOMPARE(httpRequest(port, "garbage\r\n\r\n").status, 400);
    }

    // Browsers send every cookie of 127.0.0.1 whatever the port: a page's
    // handshake of up to 32 KiB, in lines of up to 8 KiB, is taken.
    void aHandshakeWithManyCookiesIsTaken()
    {
        WebsocketHandler handler(0);
        QByteArray head = "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                          "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n";
        for (int i = 0; head.size() < ConnectionLimits::kMaxHeadBytes - 8200; ++i)
            head += "Cookie: c" + QByteArray::number(i) + "=" + QByteArray(8000, 'v') + "\r\n";
        head += "\r\n";
        QVERIFY(head.size() > 24 * 1024 && head.size() <= ConnectionLimits::kMaxHeadBytes);
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, handler.serverPort());
        QVERIFY(waitConnected(socket));
        socket.write(head);
        QByteArray reply;
        while (!reply.contains("\r\n\r\n") && waitReadable(socket))
            reply += socket.readAll();
        QVERIFY2(reply.startsWith("HTTP/1.1 101"), reply.constData());
        QTRY_COMPARE(handler.clientCount(), 1);
    }

    // A page of another site whose name resolves to 127.0.0.1 (DNS
    // rebinding) still sends its own name: refused, for the page and the
    // WebSocket alike. Loopback names, any port, and names of the settings
    // are served; so is a program that sends no Host.
    void requestsForOtherHostsAreRefused()
    {
        ListenSettings settings;
        settings.setAllowedHosts({"sign.corp.example"});
        WebsocketHandler handler(0, nullptr, settings);
        const quint16 port = handler.serverPort();
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression("\\(403 .*\\): Host \"attacker.example:36325\" is not this machine"));
        QCOMPARE(httpRequest(port, "GET / HTTP/1.1\r\nHost: attacker.example:36325\r\n\r\n").status, 403);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("\\(403 .*\\): Host \"attacker.example\""));
        QTcpSocket upgrade;
        upgrade.connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(waitConnected(upgrade));
        upgrade.write("GET / HTTP/1.1\r\nHost: attacker.example\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                      "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n");
        QVERIFY(waitReadable(upgrade));
        QVERIFY(upgrade.readAll().startsWith("HTTP/1.1 403"));
        for (const char *host : {"127.0.0.1:36325", "localhost:8080", "[::1]:1", "sign.corp.example:36325"})
            QVERIFY2(httpRequest(port, QByteArray("GET / HTTP/1.1\r\nHost: ") + host + "\r\n\r\n").status == 200,
                     host);
        QCOMPARE(httpRequest(port, "GET / HTTP/1.0\r\n\r\n").status, 200);
        QCOMPARE(handler.clientCount(), 0);
    }

    void bytesBeingReceivedAreBoundedInAll()
    {
        WebsocketHandler handler(0);
        QSignalSpy received(&handler, &WebsocketHandler::OnProcessMessage);
        // Each starts a 15 MiB message and sends 14 MiB of it: each alone is
        // within the message limit, together they pass the request budget.
        const int part = 14 * 1024 * 1024;
        QVERIFY(3 * qint64(part) > ConnectionLimits::kRequestBudgetBytes);
        QTcpSocket senders[3];
        for (QTcpSocket &s : senders)
            QVERIFY(rawHandshake(s, handler.serverPort()));
        QTRY_COMPARE(handler.clientCount(), 3);
        for (QTcpSocket &s : senders)
            s.write(frameHeader(15 * 1024 * 1024) + QByteArray(part, 'x'));
        QTRY_COMPARE_WITH_TIMEOUT(handler.clientCount(), 2, 20000);
        QCOMPARE(received.count(), 0);
        // A new page is served as usual.
        WsClient page;
        QVERIFY(page.open(handler.serverPort()));
        page.send("after");
        QTRY_COMPARE(received.count(), 1);
    }

    void aTakenPortIsRetriedUntilFree()
    {
        QTcpServer other;
        QVERIFY(other.listen(QHostAddress::LocalHost, 36325));
        WebsocketHandler handler(36325);
        QSignalSpy taken(&handler, &WebsocketHandler::portInUse);
        // ::1 is free, so something listens; 127.0.0.1 is the one pages use.
        QTRY_COMPARE(taken.count(), 1);
        QCOMPARE(taken.first().first().value<quint16>(), quint16(36325));
        // The holder is named: this test process, as the kernel and /proc see it.
        // (Under an emulator without socket diagnostics nobody can be named.)
        const QString holder = taken.first().at(1).toString();
        if (socketowner::diagnosticsAvailable()) {
            QVERIFY2(holder.startsWith(QStringLiteral("uid %1").arg(::geteuid())), qPrintable(holder));
            QVERIFY2(holder.contains(QStringLiteral("pid %1 (").arg(QCoreApplication::applicationPid())),
                     qPrintable(holder));
        }
        other.close();
        WsClient page;
        QTRY_VERIFY_WITH_TIMEOUT(tcpConnects(QHostAddress::LocalHost, 36325), HttpFront::kRetryListenMs + 3000);
        QVERIFY(page.open(36325));
        QCOMPARE(taken.count(), 1);
    }
};

QTEST_GUILESS_MAIN(TestHttpFront)
#include "tst_httpfront.moc"
