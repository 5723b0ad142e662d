// What pages can make the real driver hold in memory: pages that stop
// reading during a long replay, sixty near-limit replays at once, one replay
// at the message limit. Each case runs on a fresh driver, whose peak RSS
// must stay under one bound and whose RSS must fall back soon after the
// load ends. Sanitized builds only check that the driver survives: their
// shadow memory and quarantine are not the driver's own.
#include "signingsession.h"

#include "ink/pointpath.h"
#include "support/procstats.h"

#include <QElapsedTimer>
#include <QTcpSocket>
#include <QTest>
#include <QWebSocket>

#include <memory>
#include <vector>

namespace {

constexpr qint64 kPeakBoundKiB = 128 * 1024;
constexpr qint64 kSettledBoundKiB = 48 * 1024;
constexpr int kSettleMs = 5000;

bool judgesMemory()
{
    return qEnvironmentVariableIsEmpty("ZQ_SANITIZER_RUNTIME");
}

// A replay request of `points` records, each line of the path file the same
// length (three-digit coordinates and pressure), strokes of 150 points.
QByteArray replayRequest(int points)
{
    QVector<TOUCH_INFO_F> records;
    records.reserve(points);
    for (int i = 0; i < points; ++i)
        records.append(TOUCH_INFO_F{float(100 + (i * 7) % 200), float(100 + (i * 3) % 130), 700,
                                    i % 150 == 0 ? 1 : (i % 150 == 149 ? 3 : 2)});
    return "{\"bizcode\":\"2020\",\"body\":{\"data\":\"" + pointpath::encodeFile(records).toBase64() + "\"}}";
}

// A page that only counts the pictures it reads and notes how it ended.
class CountingPage : public QObject
{
public:
    CountingPage()
    {
        connect(&socket, &QWebSocket::textMessageReceived, this, [this](const QString &m) {
            if (m.startsWith(QLatin1String("{\"bizcode\":\"2006\"")))
                ++(m.endsWith(QLatin1String("\"bool\":true}")) ? drawing : blank);
        });
        connect(&socket, &QWebSocket::disconnected, this, [this] { closed = true; });
    }
    bool open()
    {
        socket.open(QUrl(QStringLiteral("ws://127.0.0.1:36325")));
        return QTest::qWaitFor([this] { return socket.state() == QAbstractSocket::ConnectedState; }, 10000);
    }

    QWebSocket socket;
    int drawing = 0;
    int blank = 0;
    bool closed = false;
};

// A connection that completes the handshake by hand, then sends one masked
// text frame in slices as its socket takes them, or never reads at all.
class RawPage
{
public:
    // `receiveWindow`: a fixed receive buffer, so that a page that stops
    // reading stops the driver's writes soon (Qt drops options set before
    // the connection exists).
    bool handshake(int receiveWindow = 0)
    {
        socket.connectToHost(QHostAddress::LocalHost, 36325);
        if (!socket.waitForConnected(10000))
            return false;
        if (receiveWindow > 0)
            socket.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, receiveWindow);
        socket.write("GET / HTTP/1.1\r\nHost: 127.0.0.1:36325\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                     "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n");
        QByteArray reply;
        const bool answered = QTest::qWaitFor(
            [&] {
                reply += socket.readAll();
                return reply.contains("\r\n\r\n") || socket.state() != QAbstractSocket::ConnectedState;
            },
            10000);
        return answered && reply.startsWith("HTTP/1.1 101");
    }

    // Takes no more from the kernel, which then keeps its window shut.
    void stopReading()
    {
        socket.setReadBufferSize(1);
    }

    // The frame header (a zero mask leaves the payload as it is), then the
    // payload as the socket drains.
    void startSending(const QByteArray &payload)
    {
        m_payload = payload;
        QByteArray header("\x81\xff", 2);
        for (int i = 7; i >= 0; --i)
            header.append(char((quint64(payload.size()) >> (8 * i)) & 0xff));
        header.append(QByteArray(4, '\0'));
        socket.write(header);
        QObject::connect(&socket, &QTcpSocket::bytesWritten, &socket, [this] { pump(); });
        pump();
    }
    bool sentOrGone() const
    {
        return (m_sent == m_payload.size() && socket.bytesToWrite() == 0)
            || socket.state() != QAbstractSocket::ConnectedState;
    }

    QTcpSocket socket;

private:
    void pump()
    {
        constexpr int kSlice = 256 * 1024;
        while (m_sent < m_payload.size() && socket.bytesToWrite() < kSlice) {
            const int n = int(qMin<qint64>(kSlice, m_payload.size() - m_sent));
            socket.write(m_payload.constData() + m_sent, n);
            m_sent += n;
        }
    }

    QByteArray m_payload;
    qint64 m_sent = 0;
};

struct Driver
{
    bool start()
    {
        if (!session.start(nullptr, "qz07"))
            return false;
        pid = session.driver->pid();
        // The session's page keeps every message: the cases read with their own.
        session.page.socket.close();
        if (!session.page.waitForDisconnect())
            return false;
        qInfo() << "driver RSS at rest" << rssKiB() / 1024 << "MiB";
        return true;
    }
    // What the driver said of connections, for a failure's message.
    QString serviceLog(const QString &also = "WebSocket server") const
    {
        QStringList lines;
        for (const QString &line : session.driver->output().split('\n'))
            if (line.contains(also))
                lines << line;
        return lines.mid(qMax(0, lines.size() - 6)).join('\n');
    }
    qint64 peakKiB() const { return procstats::peakRssKiB(pid); }
    qint64 rssKiB() const { return procstats::rssKiB(pid); }
    // RSS falls under the bound within kSettleMs of the load's end.
    bool settles(qint64 *lastKiB) const
    {
        QElapsedTimer since;
        since.start();
        const bool settled = QTest::qWaitFor([&] { return (*lastKiB = rssKiB()) < kSettledBoundKiB; }, kSettleMs);
        qInfo() << "driver RSS" << *lastKiB / 1024 << "MiB" << since.elapsed() << "ms after the load";
        return settled;
    }

    SigningSession session;
    qint64 pid = 0;
};

QString mib(qint64 kib)
{
    return QStringLiteral("%1 MiB").arg(double(kib) / 1024, 0, 'f', 1);
}

} // namespace

class TestMemoryBudget : public QObject
{
    Q_OBJECT

private slots:
    // One page replays 40,000 points while 63 connected pages never read.
    // The pages that do not read are dropped, the reading page never is.
    void pagesThatStopReadingDuringALongReplay()
    {
        Driver d;
        QVERIFY(d.start());
        CountingPage reader;
        QVERIFY(reader.open());
        std::vector<std::unique_ptr<RawPage>> stuck;
        for (int i = 0; i < 63; ++i) {
            stuck.emplace_back(new RawPage);
            QVERIFY2(stuck.back()->handshake(4096), qPrintable(QString::number(i)));
            stuck.back()->stopReading();
        }
        reader.socket.sendTextMessage(QString::fromLatin1(replayRequest(40000)));
        QVERIFY2(QTest::qWaitFor([&] { return reader.drawing >= 4000 || reader.closed; }, 300000),
                 qPrintable(QString::number(reader.drawing)));
        QVERIFY2(!reader.closed, qPrintable(QString("reader %1 closed after %2 pictures\n").arg(reader.socket.localPort()).arg(reader.drawing) + d.serviceLog(QString::number(reader.socket.localPort()))));
        QCOMPARE(reader.drawing, 4000);
        const qint64 peak = d.peakKiB();
        qInfo() << "driver peak RSS" << mib(peak);
        QVERIFY(d.session.driver->waitForOutput("stopped reading", 10000));
        stuck.clear();
        reader.socket.close();
        qint64 settled = 0;
        if (judgesMemory()) {
            QVERIFY2(peak < kPeakBoundKiB, qPrintable(mib(peak)));
            QVERIFY2(d.settles(&settled), qPrintable(mib(settled)));
        }
        QCOMPARE(d.session.driver->terminate(), 0);
    }

    // Sixty pages each send a 15 MiB replay at once; the one replay taken
    // runs to its end for a page that reads.
    void sixtyNearLimitReplaysAtOnce()
    {
        Driver d;
        QVERIFY(d.start());
        CountingPage reader;
        QVERIFY(reader.open());
        const int points = 287000;
        const QByteArray request = replayRequest(points);
        QVERIFY(request.size() < 15 * 1024 * 1024 + 1024);
        std::vector<std::unique_ptr<RawPage>> senders;
        for (int i = 0; i < 60; ++i) {
            senders.emplace_back(new RawPage);
            QVERIFY2(senders.back()->handshake(), qPrintable(QString::number(i)));
        }
        for (auto &sender : senders)
            sender->startSending(request);
        QVERIFY(QTest::qWaitFor([&] {
            return std::all_of(senders.begin(), senders.end(), [](const auto &p) { return p->sentOrGone(); });
        }, 180000));
        QVERIFY2(QTest::qWaitFor([&] { return reader.drawing >= (points + 9) / 10 || reader.closed; }, 300000),
                 qPrintable(QString::number(reader.drawing)));
        QVERIFY(!reader.closed);
        const qint64 peak = d.peakKiB();
        qInfo() << "driver peak RSS" << mib(peak);
        senders.clear();
        reader.socket.close();
        qint64 settled = 0;
        if (judgesMemory()) {
            QVERIFY2(peak < kPeakBoundKiB, qPrintable(mib(peak)));
            QVERIFY2(d.settles(&settled), qPrintable(mib(settled)));
        }
        QCOMPARE(d.session.driver->terminate(), 0);
    }

    // One replay at the message limit: 306,895 points, 30,690 pictures.
    void oneReplayAtTheMessageLimit()
    {
        Driver d;
        QVERIFY(d.start());
        CountingPage reader;
        QVERIFY(reader.open());
        const QByteArray request = replayRequest(306895);
        QVERIFY(request.size() <= 16 * 1024 * 1024);
        reader.socket.sendTextMessage(QString::fromLatin1(request));
        QVERIFY2(QTest::qWaitFor([&] { return reader.drawing >= 30690 || reader.closed; }, 300000),
                 qPrintable(QString::number(reader.drawing)));
        QVERIFY(!reader.closed);
        const qint64 peak = d.peakKiB();
        qInfo() << "driver peak RSS" << mib(peak);
        qint64 settled = 0;
        if (judgesMemory()) {
            QVERIFY2(peak < kPeakBoundKiB, qPrintable(mib(peak)));
            QVERIFY2(d.settles(&settled), qPrintable(mib(settled)));
        }
        QCOMPARE(d.session.driver->terminate(), 0);
    }
};

QTEST_GUILESS_MAIN(TestMemoryBudget)
#include "tst_memorybudget.moc"
