// Many pages at once and a page that never reads: every page is served, the
// driver gives its descriptors back, and an ordinary signing still succeeds.
#include "web/httpfront.h"
#include "web/hostilesession.h"

#include "support/procstats.h"
#include "support/rawwsclient.h"
#include "web/pathfile.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include <memory>
#include <vector>

class TestHostileConnections : public QObject
{
    Q_OBJECT

private:
    SigningSession s;

private slots:
    void initTestCase() { QVERIFY(s.start(nullptr, "qz07")); }

    // Pages up to the connection cap are all served; one more is refused
    // while they stay, and everything is given back when they go.
    void pagesUpToTheCapAreAllServedAndReleased()
    {
        const int before = procstats::descriptors(s.driver->pid());
        const int count = ConnectionLimits::kMaxConnections - 1;  // s.page is one
        std::vector<std::unique_ptr<WsClient>> pages;
        for (int i = 0; i < count; ++i) {
            pages.push_back(std::make_unique<WsClient>());
            QVERIFY2(pages.back()->open(36325, 10000), qPrintable(QString::number(i)));
        }
        WsClient beyondTheCap;
        QVERIFY(!beyondTheCap.open(36325, 3000));
        QVERIFY(answersSerialRequest(s, s.page));
        // The serial goes to every page.
        for (const auto &page : pages)
            QVERIFY(page->waitForMessages(1, 20000));
        pages.clear();
        QTRY_VERIFY_WITH_TIMEOUT(procstats::descriptors(s.driver->pid()) <= before + 2, 20000);
        s.page.messages.clear();
    }

    void aPageThatNeverReadsHoldsNobodyUp()
    {
        // A page whose receive window stays tiny and full: it never reads.
        RawWsClient stuck;
        stuck.socket.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 1024);
        QVERIFY(stuck.open());
        stuck.socket.setReadBufferSize(1);

        QVERIFY(signsNormally(s));
        // Every picture of that signing reached the page that reads: one
        // for samples 1, 11, 21, ... of the path.
        const PathFileContent path = readPathFile(s.outDir() + "/path.save");
        QVERIFY(path.valid);
        QCOMPARE(s.drawingImages(), (path.records.size() + 9) / 10);
        QVERIFY(s.driver->isRunning());
    }

    // Out of descriptors, the driver pauses accepting instead of spinning on
    // the listening socket, and serves new pages once descriptors come back.
    void runningOutOfDescriptorsPausesAccepting()
    {
        const qint64 pid = s.driver->pid();
        const auto setSoftLimit = [pid](int files) {
            return QProcess::execute("prlimit", {QString("--pid=%1").arg(pid), QString("--nofile=%1:").arg(files)}) == 0;
        };
        QVERIFY(setSoftLimit(procstats::descriptors(pid) + 6));
        std::vector<std::unique_ptr<QTcpSocket>> waiting;
        for (int i = 0; i < 20; ++i) {
            waiting.push_back(std::make_unique<QTcpSocket>());
            waiting.back()->connectToHost(QHostAddress::LocalHost, 36325);
        }
        QVERIFY(s.driver->waitForOutput("out of file descriptors", 10000));
        const qint64 before = procstats::cpuTicks(pid);
        QTest::qWait(2000); // the driver is watched for spinning, which must not happen
        const qint64 spent = procstats::cpuTicks(pid) - before;
        // Spinning would take all of the 2 s (about 200 ticks).
        QVERIFY2(before >= 0 && spent < 60, qPrintable(QString("%1 ticks in 2 s").arg(spent)));

        QVERIFY(setSoftLimit(1024));
        waiting.clear();
        // Accepting again, the driver first takes the backlog of closed
        // connections, which may fill the slots for unfinished handshakes for
        // a moment (a 503): the page retries, as the client script does.
        std::unique_ptr<WsClient> late;
        QVERIFY(QTest::qWaitFor(
            [&] {
                late = std::make_unique<WsClient>();
                return late->open(36325, 1000);
            },
            15000));
        QVERIFY(answersSerialRequest(s, *late));
    }

    // Two hundred clients send their heads a byte at a time and come back
    // as soon as they are dropped: every page handshake and `GET /` is still
    // served within a second.
    void slowHeadsNeverLockOutAPage()
    {
        constexpr int kSlowClients = 200;
        std::vector<std::unique_ptr<QTcpSocket>> slow;
        int connected = 0;
        for (int i = 0; i < kSlowClients; ++i) {
            slow.push_back(std::make_unique<QTcpSocket>());
            QTcpSocket *socket = slow.back().get();
            connect(socket, &QTcpSocket::connected, socket, [socket, &connected] {
                ++connected;
                socket->write("GET / HTTP/1.1\r\n");
            });
            connect(socket, &QTcpSocket::disconnected, socket, [socket] {
                socket->connectToHost(QHostAddress::LocalHost, 36325);
            });
            socket->connectToHost(QHostAddress::LocalHost, 36325);
        }
        QTimer dribble;
        dribble.setInterval(200);
        connect(&dribble, &QTimer::timeout, [&slow] {
            for (const auto &socket : slow)
                if (socket->state() == QAbstractSocket::ConnectedState)
                    socket->write("X");
        });
        dribble.start();
        QVERIFY(QTest::qWaitFor([&] { return connected >= kSlowClients; }, 20000));

        for (int round = 0; round < 5; ++round) {
            QElapsedTimer served;
            served.start();
            WsClient page;
            QVERIFY2(page.open(36325, 5000),
                     qPrintable(QString("round %1\n").arg(round) + s.driver->output().right(1500)));
            qInfo() << "handshake in" << served.elapsed() << "ms";
            QVERIFY2(served.elapsed() < 1000, qPrintable(QString("handshake in %1 ms").arg(served.elapsed())));

            served.restart();
            QTcpSocket plain;
            plain.connectToHost(QHostAddress::LocalHost, 36325);
            plain.write("GET / HTTP/1.1\r\nHost: 127.0.0.1:36325\r\n\r\n");
            QByteArray reply;
            QVERIFY(QTest::qWaitFor([&] { return (reply += plain.readAll()).contains("\r\n\r\n"); }, 5000));
            QVERIFY2(reply.startsWith("HTTP/1.1 200"), reply.left(100).constData());
            qInfo() << "GET / in" << served.elapsed() << "ms";
            QVERIFY2(served.elapsed() < 1000, qPrintable(QString("GET / in %1 ms").arg(served.elapsed())));
        }
        dribble.stop();
        for (const auto &socket : slow) {
            socket->disconnect();
            socket->abort();
        }
    }

    void anOrdinarySigningStillSucceeds()
    {
        QVERIFY(signsNormally(s));
        QCOMPARE(s.driver->terminate(), 0);
    }
};

QTEST_MAIN(TestHostileConnections)
#include "tst_hostile_connections.moc"
