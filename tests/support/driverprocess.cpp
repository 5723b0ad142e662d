#include "support/driverprocess.h"

#include "support/testenv.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTcpSocket>
#include <QTest>

#include <unistd.h>

DriverProcess::DriverProcess(const QString &root, QProcessEnvironment base) : m_root(root), m_env(base)
{
    QDir().mkpath(homeDir());
    QDir().mkpath(tempDir());
    QDir().mkpath(runtimeDir());
    QFile::setPermissions(runtimeDir(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    m_env.insert("HOME", homeDir());
    m_env.insert("XDG_CONFIG_HOME", homeDir() + "/.config");
    m_env.insert("TMPDIR", tempDir());
    m_env.insert("XDG_RUNTIME_DIR", runtimeDir());
    m_env.insert("LANG", "C.UTF-8");
    m_env.remove("LC_ALL");
    m_process.setProcessChannelMode(QProcess::MergedChannels);
}

DriverProcess::~DriverProcess()
{
    if (isRunning())
        kill();
}

void DriverProcess::setEnvironmentValue(const QString &name, const QString &value)
{
    m_env.insert(name, value);
}

bool DriverProcess::runAsUser(uint uid)
{
    bool handed = ::chown(QFile::encodeName(m_root).constData(), uid, uid) == 0;
    QDirIterator it(m_root, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext())
        handed = ::lchown(QFile::encodeName(it.next()).constData(), uid, uid) == 0 && handed;
    m_uid = int(uid);
    return handed;
}

bool DriverProcess::skipWelcomeNotice()
{
    QDir().mkpath(homeDir() + "/.config/ZQSignDriver");
    QFile file(settingsFile());
    return file.open(QIODevice::WriteOnly) && file.write("[Settings]\nSHOWWELCOMTIPS=false\n") > 0;
}

bool DriverProcess::start()
{
    m_process.setProcessEnvironment(m_env);
    if (m_uid < 0) {
        m_process.start(builtBinary("ZQSignDriver"), QStringList());
    } else {
        const QString id = QString::number(m_uid);
        m_process.start("setpriv", {"--reuid=" + id, "--regid=" + id, "--clear-groups", "--",
                                    builtBinary("ZQSignDriver")});
    }
    return m_process.waitForStarted(5000);
}

bool DriverProcess::portAccepts(int timeoutMs)
{
    return QTest::qWaitFor(
        [] {
            QTcpSocket probe;
            probe.connectToHost(QStringLiteral("127.0.0.1"), 36325);
            const bool connected = probe.waitForConnected(200);
            probe.abort();
            return connected;
        },
        timeoutMs);
}

QString DriverProcess::output()
{
    m_output += QString::fromUtf8(m_process.readAll());
    return m_output;
}

bool DriverProcess::waitForOutput(const QString &text, int timeoutMs)
{
    return QTest::qWaitFor([&] { return output().contains(text); }, timeoutMs);
}

bool DriverProcess::waitForExit(int timeoutMs)
{
    if (!QTest::qWaitFor([&] { return !isRunning(); }, timeoutMs))
        return false;
    printSanitizerReport();
    return true;
}

// A sanitizer's report is the only trace of why the driver failed on exit.
void DriverProcess::printSanitizerReport()
{
    if (exitCode() == 0)
        return;
    output();
    for (const char *mark : {"WARNING: ThreadSanitizer", "ERROR: AddressSanitizer", "ERROR: LeakSanitizer"}) {
        const int at = m_output.indexOf(QLatin1String(mark));
        if (at >= 0)
            qWarning().noquote() << m_output.mid(at, 12000);
    }
}

int DriverProcess::exitCode() const
{
    if (m_process.exitStatus() != QProcess::NormalExit)
        return -1;
    return m_process.exitCode();
}

int DriverProcess::terminate(int timeoutMs)
{
    if (isRunning()) {
        m_process.terminate();
        if (!waitForExit(timeoutMs)) {
            kill();
            return -1;
        }
    }
    output();
    return exitCode();
}

void DriverProcess::kill()
{
    m_process.kill();
    m_process.waitForFinished(5000);
    output();
}
