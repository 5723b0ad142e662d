// The virtual pad's control socket: command replies, errors, several commands
// on one connection, over-long lines, and several clients at once.

#include "support/padsim.h"

#include <QDir>
#include <QTest>
#include <QThread>

#include <hidapi.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <thread>

namespace {

// A raw connection, to see exactly what goes over the socket.
class Connection
{
public:
    explicit Connection(const QString &path)
    {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        qstrncpy(address.sun_path, path.toLocal8Bit().constData(), sizeof address.sun_path);
        m_fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        if (::connect(m_fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    ~Connection() { if (m_fd >= 0) ::close(m_fd); }
    bool isOpen() const { return m_fd >= 0; }
    bool send(const QByteArray &bytes) { return ::send(m_fd, bytes.constData(), bytes.size(), MSG_NOSIGNAL) == bytes.size(); }
    QByteArray line()
    {
        while (!m_buffer.contains('\n')) {
            char chunk[4096];
            const ssize_t n = ::recv(m_fd, chunk, sizeof chunk, 0);
            if (n <= 0)
                return QByteArray();
            m_buffer.append(chunk, int(n));
        }
        const int end = m_buffer.indexOf('\n');
        const QByteArray first = m_buffer.left(end);
        m_buffer.remove(0, end + 1);
        return first;
    }

private:
    int m_fd = -1;
    QByteArray m_buffer;
};

} // namespace

class PadSimProtocol : public QObject
{
    Q_OBJECT

private:
    PadSim m_sim;

private slots:
    // This test calls nothing else of hidapi, so the linker keeps hidapi only
    // for this call: a process serves the socket when it uses hidapi or libusb.
    void initTestCase() { QCOMPARE(hid_init(), 0); }
    void init() { QVERIFY(m_sim.ok("reset")); }

    void repliesOfEachCommand()
    {
        QCOMPARE(m_sim.command("plug qz07 bus 2 port 9"),
                 QString("ok plugged pad qz07 28bd:600c bus 2 port 9 serial QZ07SIM001 closed"));
        QCOMPARE(m_sim.command("plug t330 serial ABC"), QString("ok plugged pad t330 0b57:8534 bus 1 port 1 serial ABC closed streaming"));
        QCOMPARE(m_sim.command("plug-usb 046D:C077 class 9 subclass 1"),
                 QString("ok plugged usb 046d:c077 bus 1 port 2 class 9 subclass 1"));
        QCOMPARE(m_sim.command("unplug 046d:c077"), QString("ok unplugged usb 046d:c077 bus 1 port 2 class 9 subclass 1"));
        QCOMPARE(m_sim.command("fault stall"), QString("ok faults stall"));
        QCOMPARE(m_sim.command("fault fail-read fail-write"), QString("ok faults stall fail-write fail-read"));
        QCOMPARE(m_sim.command("fault none"), QString("ok faults none"));
        QCOMPARE(m_sim.command("hotplug off"), QString("ok hotplug off"));
        QCOMPARE(m_sim.command("pen 10 20 30"), QString("ok sent 0"));   // nobody has the QZ07 open
        QCOMPARE(m_sim.command("log clear"), QString("ok cleared"));
        QCOMPARE(m_sim.command("log"), QString("ok 0"));
        QCOMPARE(m_sim.status(), (QStringList{"pad qz07 28bd:600c bus 2 port 9 serial QZ07SIM001 closed",
                                               "pad t330 0b57:8534 bus 1 port 1 serial ABC closed streaming",
                                               "hotplug off", "faults none",
                                               "contexts 0 log-levels callbacks 0", "stroke idle"}));
        QVERIFY(m_sim.command("help").split('\n').size() > 10);
    }

    void errorsNameTheProblem()
    {
        const QList<QPair<QString, QString>> cases{
            {"", "error: empty command"},
            {"jump", "error: unknown command 'jump' (try help)"},
            {"plug", "error: usage: plug t330|qz07|kz07 [serial S|no-serial] [bus N] [port N] [class N] [subclass N]"},
            {"plug qz08", "error: unknown pad model 'qz08'"},
            {"plug qz07 bus 300", "error: bus must be a number from 0 to 255"},
            {"plug qz07 port", "error: 'port' needs a value"},
            {"plug qz07 colour red", "error: unexpected 'colour'"},
            {"plug-usb 46d:c077", "error: usage: plug-usb VID:PID [bus N] [port N] [class N] [subclass N]"},
            {"unplug kz07", "error: nothing attached matches 'kz07'"},
            {"unplug mouse", "error: unknown device 'mouse'"},
            {"report 0102", "error: no pad attached"},
            {"pen 1 2", "error: usage: pen X Y P"},
            {"button ok", "error: usage: button confirm|resign|cancel"},
            {"fault melt", "error: unknown fault 'melt'"},
            {"hotplug maybe", "error: usage: hotplug on|off"},
            {"stroke", "error: usage: stroke FILE|demo [rate HZ|max] | stroke stop"},
            {"log everything", "error: usage: log [clear]"},
        };
        for (const auto &c : cases)
            QCOMPARE(m_sim.command(c.first), c.second);
        QVERIFY(m_sim.plug("t330"));
        QCOMPARE(m_sim.command("plug qz07 bus 1 port 1"), QString("error: bus 1 port 1 is taken"));
        QCOMPARE(m_sim.command("report 010"), QString("error: usage: report HEX"));
        QCOMPARE(m_sim.command("report 0102"), QString("error: no pad is open"));
        QCOMPARE(m_sim.command("reply 0102"), QString("error: t330 answers no queries"));
        QCOMPARE(m_sim.command("pen -1 2 3"), QString("error: X must be a number from 0 to 65535"));
        QCOMPARE(m_sim.command("stroke demo rate 0"), QString("error: rate must be a number from 1 to 20000"));
        QVERIFY(m_sim.command("fault stall melt").startsWith("error"));
        QCOMPARE(m_sim.status().at(2), QString("faults none"));   // a bad list changes nothing
    }

    void unplugPicksTheFirstMatchUnlessPlaced()
    {
        QVERIFY(m_sim.plug("qz07 serial A000000001"));
        QVERIFY(m_sim.plug("qz07 serial B000000001"));
        QVERIFY(m_sim.plug("qz07 serial C000000001"));
        QVERIFY(m_sim.command("unplug 28bd:600c port 2").contains("serial B000000001"));
        QVERIFY(m_sim.command("unplug qz07").contains("serial A000000001"));
        QVERIFY(m_sim.command("unplug qz07 bus 1 port 2").startsWith("error"));
        QCOMPARE(m_sim.status().filter("pad ").size(), 1);
    }

    void oneConnectionCarriesManyCommands()
    {
        Connection connection(m_sim.socketPath());
        QVERIFY(connection.isOpen());
        QVERIFY(connection.send("plug t330\r\nlog\nbogus\n"));   // also in one packet, with CRLF
        QCOMPARE(connection.line(), QByteArray("ok plugged pad t330 0b57:8534 bus 1 port 1 serial T330SIM00000001 closed streaming"));
        QCOMPARE(connection.line(), QByteArray("ok 0"));
        QCOMPARE(connection.line(), QByteArray("error: unknown command 'bogus' (try help)"));
        QVERIFY(connection.send("sta"));                        // a command split across packets
        QThread::msleep(50);
        QVERIFY(connection.send("tus\n"));
        QCOMPARE(connection.line(), QByteArray("ok 5"));
    }

    void overlongLineIsRefusedAndTheConnectionGoesOn()
    {
        Connection connection(m_sim.socketPath());
        QVERIFY(connection.send("report " + QByteArray(200000, 'a') + "\n"));
        QCOMPARE(connection.line(), QByteArray("error: line too long"));
        QVERIFY(connection.send("hotplug on\n"));
        QCOMPARE(connection.line(), QByteArray("ok hotplug on"));
    }

    void severalClientsAtOnce()
    {
        std::vector<std::thread> clients;
        std::atomic<int> good{0};
        for (int c = 0; c < 4; ++c) {
            clients.emplace_back([&, c] {
                PadSim sim(m_sim.socketPath());
                for (int i = 0; i < 10; ++i) {
                    const QString port = QString::number(c * 10 + i + 1);
                    if (sim.plugUsb("1234:0001 bus 3 port " + port) && sim.unplug("1234:0001 bus 3 port " + port))
                        ++good;
                }
            });
        }
        for (auto &client : clients)
            client.join();
        QCOMPARE(good.load(), 40);
        QCOMPARE(m_sim.status().filter("usb ").size(), 0);
    }

    void unreachableSocketIsAnError()
    {
        PadSim nowhere(QDir::tempPath() + "/no-such.sock");
        QVERIFY(nowhere.command("status", 100).startsWith("error: no virtual pad listens on"));
        QVERIFY(!nowhere.waitReady(100));
    }
};

QTEST_GUILESS_MAIN(PadSimProtocol)
#include "tst_padsim_protocol.moc"
