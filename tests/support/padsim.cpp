#include "support/padsim.h"

#include "support/testenv.h"

#include <QDeadlineTimer>
#include <QTest>
#include <QThread>

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

int connectTo(const QByteArray &path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (static_cast<size_t>(path.size()) >= sizeof address.sun_path)
        return -1;
    std::memcpy(address.sun_path, path.constData(), static_cast<size_t>(path.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0)
        return fd;
    if (fd >= 0)
        ::close(fd);
    return -1;
}

// Reads until the first reply line and the lines it announces are complete.
bool readReply(int fd, const QString &line, QByteArray &reply, QDeadlineTimer deadline)
{
    const QString name = line.section(' ', 0, 0, QString::SectionSkipEmpty);
    const bool counted = line.trimmed() == name && (name == "log" || name == "status" || name == "help");
    for (;;) {
        const int newlines = reply.count('\n');
        if (newlines >= 1) {
            const QByteArray first = reply.left(reply.indexOf('\n'));
            const int more = counted && first.startsWith("ok ") ? first.mid(3).toInt() : 0;
            if (newlines >= 1 + more)
                return true;
        }
        pollfd pfd{fd, POLLIN, 0};
        const int ready = ::poll(&pfd, 1, static_cast<int>(qMax<qint64>(0, deadline.remainingTime())));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return false;
        char chunk[4096];
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0)
            return false;
        reply.append(chunk, static_cast<int>(n));
    }
}

} // namespace

PadSim::PadSim(const QString &socketPath) : m_socketPath(socketPath) {}

QString PadSim::defaultSocketPath()
{
    const QString explicitPath = qEnvironmentVariable("PADSIM_SOCKET");
    if (!explicitPath.isEmpty())
        return explicitPath;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty())
        return runtime + "/padsim.sock";
    const QString tmp = qEnvironmentVariable("TMPDIR", "/tmp");
    return tmp + "/padsim-" + QString::number(getuid()) + ".sock";
}

QString PadSim::command(const QString &line, int waitMs) const
{
    const QDeadlineTimer deadline(waitMs);
    int fd = -1;
    while ((fd = connectTo(m_socketPath.toLocal8Bit())) < 0) {
        if (deadline.hasExpired())
            return "error: no virtual pad listens on " + m_socketPath;
        QThread::msleep(20);
    }
    const QByteArray request = line.toUtf8() + "\n";
    QByteArray reply;
    const bool answered = ::send(fd, request.constData(), static_cast<size_t>(request.size()), MSG_NOSIGNAL) ==
                              request.size() &&
                          readReply(fd, line, reply, deadline);
    ::close(fd);
    if (!answered)
        return "error: the virtual pad did not answer '" + line + "'";
    if (reply.endsWith('\n'))
        reply.chop(1);
    return QString::fromUtf8(reply);
}

QStringList PadSim::body(const QString &line) const
{
    QStringList lines = command(line).split('\n');
    if (!lines.first().startsWith("ok"))
        return {lines.first()};
    lines.removeFirst();
    return lines;
}

QStringList PadSim::log() const
{
    return body("log");
}

QStringList PadSim::status() const
{
    return body("status");
}

bool PadSim::waitReady(int waitMs) const
{
    return command("status", waitMs).startsWith("ok");
}

bool PadSim::waitUntilAllRead(int waitMs) const
{
    const auto allRead = [this] {
        const QStringList words = command("reader").split(' ');
        // "ok unread N waiting M dropped K"
        return words.size() == 7 && words[2] == "0" && words[4].toInt() > 0;
    };
    return QTest::qWaitFor(allRead, waitMs);
}

long PadSim::droppedReports() const
{
    const QStringList words = command("reader").split(' ');
    return words.size() == 7 ? words[6].toLong() : -1;
}

long PadSim::hostLooks() const
{
    const QString reply = command("looks");
    return reply.startsWith("ok looks ") ? reply.section(' ', 2, 2).toLong() : -1;
}

bool PadSim::waitForHostLooks(long since, int more, int waitMs) const
{
    return since >= 0 && QTest::qWaitFor([&] { return hostLooks() >= since + more; }, waitMs);
}

bool PadSim::waitForStrokeSteps(int steps, int waitMs) const
{
    const auto reached = [&] {
        for (const QString &line : status()) {
            if (line == "stroke idle")
                return true;
            // "stroke playing N/M"
            if (line.startsWith("stroke playing "))
                return line.section(' ', 2, 2).section('/', 0, 0).toInt() >= steps;
        }
        return false;
    };
    return QTest::qWaitFor(reached, waitMs);
}

QProcessEnvironment PadSim::childEnvironment(QProcessEnvironment base) const
{
    QString preload = builtLibrary("libpadsim.so");
    const QString runtime = qEnvironmentVariable("ZQ_SANITIZER_RUNTIME");
    if (!runtime.isEmpty())
        preload = runtime + ":" + preload;
    base.insert("LD_PRELOAD", preload);
    base.insert("PADSIM_SOCKET", m_socketPath);
    return base;
}
