// The padsim tool: one command and its exit status, and `padsim run`, which
// starts a program with the virtual pad in place of hidapi and libusb. The
// program here is this test binary in its --child role.

#include "support/padsim.h"
#include "support/testenv.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

#include <hidapi.h>
#include <libusb.h>
#include <unistd.h>

namespace {

// The child: answers "list" with what libusb and hidapi show it, "env NAME"
// with a variable, and ends at the end of its input.
int childMain()
{
    hid_init();
    std::string line;
    while (std::getline(std::cin, line)) {
        if (line == "list") {
            libusb_context *ctx = nullptr;
            libusb_device **list = nullptr;
            ssize_t usb = -1;
            if (libusb_init(&ctx) == 0) {
                usb = libusb_get_device_list(ctx, &list);
                if (usb >= 0)
                    libusb_free_device_list(list, 1);
                libusb_exit(ctx);
            }
            int hid = 0;
            hid_device_info *all = hid_enumerate(0, 0);
            for (hid_device_info *info = all; info; info = info->next)
                ++hid;
            hid_free_enumeration(all);
            std::printf("%zd usb %d hid\n", usb, hid);
        } else if (line.rfind("env ", 0) == 0) {
            const char *value = std::getenv(line.c_str() + 4);
            std::printf("%s\n", value ? value : "(unset)");
        }
        std::fflush(stdout);
    }
    return 0;
}

} // namespace

class PadSimCli : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    struct Result
    {
        int exitCode;
        QString out;
        QString err;
    };

    Result padsim(const QStringList &args, const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment(),
                  const QString &cwd = QString())
    {
        QProcess process;
        process.setProcessEnvironment(env);
        if (!cwd.isEmpty())
            process.setWorkingDirectory(cwd);
        process.start(builtBinary("padsim"), args);
        process.waitForFinished(10000);
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                QString::fromUtf8(process.readAllStandardOutput()), QString::fromUtf8(process.readAllStandardError())};
    }

    // Starts the child under `padsim run` and waits until it serves the socket.
    bool startChild(QProcess &child, const QProcessEnvironment &env)
    {
        child.setProcessEnvironment(env);
        child.start(builtBinary("padsim"), {"run", "--", QCoreApplication::applicationFilePath(), "--child"});
        return child.waitForStarted(5000);
    }

    QString ask(QProcess &child, const QByteArray &line)
    {
        child.write(line + "\n");
        while (!child.canReadLine()) {
            if (!child.waitForReadyRead(5000))
                return QString();
        }
        return QString::fromUtf8(child.readLine()).trimmed();
    }

    QProcessEnvironment env(const QString &socket)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("PADSIM_SOCKET", socket);
        environment.remove("LD_PRELOAD");
        return environment;
    }

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void usageWithoutACommand()
    {
        const Result result = padsim({});
        QCOMPARE(result.exitCode, 2);
        QVERIFY(result.err.contains("usage: padsim COMMAND"));
    }

    void noListenerIsExitTwo()
    {
        const Result result = padsim({"status"}, env(m_dir.filePath("nobody.sock")));
        QCOMPARE(result.exitCode, 2);
        QVERIFY(result.err.contains("no virtual pad listens on"));
    }

    void commandsAgainstARunningProgram()
    {
        const QString socket = m_dir.filePath("run.sock");
        QProcess child;
        QVERIFY(startChild(child, env(socket)));
        QVERIFY(PadSim(socket).waitReady());

        Result result = padsim({"plug", "qz07", "serial", "CLI0000001"}, env(socket));
        QCOMPARE(result.exitCode, 0);
        QCOMPARE(result.out, QString("ok plugged pad qz07 28bd:600c bus 1 port 1 serial CLI0000001 closed\n"));
        result = padsim({"plug", "qz09"}, env(socket));
        QCOMPARE(result.exitCode, 1);
        QCOMPARE(result.out, QString("error: unknown pad model 'qz09'\n"));
        QVERIFY(padsim({"plug-usb", "046d:c077"}, env(socket)).exitCode == 0);

        QCOMPARE(ask(child, "list"), QString("2 usb 1 hid"));   // the program sees the virtual devices

        result = padsim({"status"}, env(socket));
        QCOMPARE(result.exitCode, 0);
        QVERIFY(result.out.startsWith("ok 6\npad qz07"));
        QCOMPARE(result.out.count('\n'), 7);

        QTemporaryDir strokes;
        QFile file(strokes.filePath("line.txt"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("1 1 1\n2 2 2\n");
        file.close();
        result = padsim({"stroke", "line.txt"}, env(socket), strokes.path());   // read by the program, from anywhere
        QVERIFY2(QRegularExpression("^ok stroke 2 steps at 200 Hz from \\d+\n$").match(result.out).hasMatch(),
                 qPrintable(result.out));

        child.closeWriteChannel();
        QVERIFY(child.waitForFinished(10000));
        QVERIFY2(child.exitCode() == 0, child.readAllStandardError().constData());
        QCOMPARE(padsim({"status"}, env(socket)).exitCode, 2);   // the socket went with the program
    }

    void runSetsThePreloadAndTheSocket()
    {
        const QString socket = m_dir.filePath("env.sock");
        QProcess child;
        QVERIFY(startChild(child, env(socket)));
        QCOMPARE(ask(child, "env PADSIM_SOCKET"), socket);
        const QStringList preload = ask(child, "env LD_PRELOAD").split(':');
        QVERIFY(preload.last().endsWith("/lib/libpadsim.so"));
        QCOMPARE(QFileInfo(preload.last()).canonicalFilePath(), QFileInfo(builtLibrary("libpadsim.so")).canonicalFilePath());
        if (!qEnvironmentVariableIsEmpty("ZQ_SANITIZER_RUNTIME"))
            QCOMPARE(preload.first(), qEnvironmentVariable("ZQ_SANITIZER_RUNTIME"));
        child.closeWriteChannel();
        QVERIFY(child.waitForFinished(10000));
    }

    void defaultSocketPaths()
    {
        QProcessEnvironment base = env(QString());
        base.remove("PADSIM_SOCKET");
        base.insert("XDG_RUNTIME_DIR", m_dir.path());
        QProcess child;
        QVERIFY(startChild(child, base));
        QCOMPARE(ask(child, "env PADSIM_SOCKET"), m_dir.filePath("padsim.sock"));
        child.closeWriteChannel();
        QVERIFY(child.waitForFinished(10000));

        base.remove("XDG_RUNTIME_DIR");
        base.insert("TMPDIR", m_dir.path());
        QProcess second;
        QVERIFY(startChild(second, base));
        QCOMPARE(ask(second, "env PADSIM_SOCKET"), m_dir.filePath(QString("padsim-%1.sock").arg(getuid())));
        QVERIFY(PadSim(m_dir.filePath(QString("padsim-%1.sock").arg(getuid()))).waitReady());
        second.closeWriteChannel();
        QVERIFY(second.waitForFinished(10000));
    }

    void runWithoutAProgram()
    {
        QCOMPARE(padsim({"run", "--"}).exitCode, 2);
        QCOMPARE(padsim({"run", "--", m_dir.filePath("missing-program")}).exitCode, 127);
    }
};

int main(int argc, char **argv)
{
    if (argc > 1 && std::strcmp(argv[1], "--child") == 0)
        return childMain();
    QCoreApplication app(argc, argv);
    PadSimCli test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_padsim_cli.moc"
