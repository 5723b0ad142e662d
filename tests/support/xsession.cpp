#include "support/xsession.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QRegularExpression>
#include <QDir>
#include <QFile>
#include <QTemporaryFile>
#include <QTest>
#include <QTextStream>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

#include <unistd.h>

namespace {

// Waits for Xorg/Xvfb to write its display number on the -displayfd pipe.
QString readDisplayNumber(int fd, int timeoutMs)
{
    QString number;
    QDeadlineTimer deadline(timeoutMs);
    char c = 0;
    while (!deadline.hasExpired()) {
        fd_set set;
        FD_ZERO(&set);
        FD_SET(fd, &set);
        timeval tv{0, 100 * 1000};
        if (select(fd + 1, &set, nullptr, nullptr, &tv) <= 0)
            continue;
        const ssize_t n = ::read(fd, &c, 1);
        if (n <= 0)
            break;
        if (c == '\n')
            return number;
        number += QChar(c);
    }
    return QString();
}

QByteArray edidFor(const QString &vendor, int index)
{
    QByteArray edid(128, '\0');
    const uchar header[8] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
    for (int i = 0; i < 8; ++i)
        edid[i] = char(header[i]);
    const QByteArray id = vendor.toUpper().toLatin1();
    const int packed = ((id.at(0) - 'A' + 1) << 10) | ((id.at(1) - 'A' + 1) << 5) | (id.at(2) - 'A' + 1);
    edid[8] = char(packed >> 8);
    edid[9] = char(packed & 0xFF);
    edid[10] = char(0x01 + index); // product code
    edid[18] = 1;                  // EDID 1.3
    edid[19] = 3;
    edid[20] = char(0x80);         // digital input
    edid[21] = 52;                 // 52 x 29 cm
    edid[22] = 29;
    for (int i = 38; i < 54; ++i)
        edid[i] = 0x01; // no standard timings
    // Four display descriptors: name, serial, two dummies.
    auto text = [&edid](int offset, uchar tag, const QByteArray &value) {
        edid[offset + 3] = char(tag);
        QByteArray padded = value.left(13);
        if (padded.size() < 13)
            padded += '\n';
        while (padded.size() < 13)
            padded += ' ';
        for (int i = 0; i < 13; ++i)
            edid[offset + 5 + i] = padded.at(i);
    };
    text(54, 0xFC, "TestMonitor" + QByteArray::number(index));
    text(72, 0xFF, "SN" + QByteArray::number(1000 + index));
    text(90, 0x10, QByteArray());
    text(108, 0x10, QByteArray());
    uchar sum = 0;
    for (int i = 0; i < 127; ++i)
        sum = uchar(sum + uchar(edid.at(i)));
    edid[127] = char(uchar(256 - sum));
    return edid;
}

} // namespace

std::unique_ptr<XSession> XSession::startXvfb(const QSize &size)
{
    std::unique_ptr<XSession> session(new XSession);
    const QString screen = QStringLiteral("%1x%2x24").arg(size.width()).arg(size.height());
    session->launchServer(QStringLiteral("Xvfb"), {"-screen", "0", screen, "-nolisten", "tcp", "-noreset"});
    return session;
}

std::unique_ptr<XSession> XSession::startMonitors(const QList<Monitor> &monitors)
{
    std::unique_ptr<XSession> session(new XSession);
    int totalWidth = 0;
    int maxHeight = 0;
    for (const Monitor &m : monitors) {
        totalWidth += m.size.width();
        maxHeight = qMax(maxHeight, m.size.height());
    }

    QString config;
    QTextStream out(&config);
    out << "Section \"Device\"\n  Identifier \"dummy\"\n  Driver \"dummy\"\n  VideoRam 256000\n";
    for (int i = 0; i < monitors.size(); ++i)
        out << "  Option \"Monitor-DUMMY" << i << "\" \"m" << i << "\"\n";
    out << "EndSection\n";
    int x = 0;
    for (int i = 0; i < monitors.size(); ++i) {
        const QSize s = monitors.at(i).size;
        const QString mode = QStringLiteral("%1x%2").arg(s.width()).arg(s.height());
        // A plain 60 Hz-ish modeline; the dummy driver never drives real hardware.
        out << "Section \"Monitor\"\n  Identifier \"m" << i << "\"\n"
            << "  HorizSync 5.0-1000.0\n  VertRefresh 5.0-200.0\n"
            << "  Modeline \"" << mode << "\" 148.50 " << s.width() << ' ' << s.width() + 88 << ' '
            << s.width() + 132 << ' ' << s.width() + 280 << ' ' << s.height() << ' ' << s.height() + 4
            << ' ' << s.height() + 9 << ' ' << s.height() + 45 << "\n"
            << "  Option \"PreferredMode\" \"" << mode << "\"\n"
            << "  Option \"Position\" \"" << x << " 0\"\n  Option \"Enable\" \"true\"\nEndSection\n";
        x += s.width();
    }
    out << "Section \"Screen\"\n  Identifier \"screen\"\n  Device \"dummy\"\n  Monitor \"m0\"\n"
        << "  DefaultDepth 24\n  SubSection \"Display\"\n    Depth 24\n    Virtual " << totalWidth << ' '
        << maxHeight << "\n  EndSubSection\nEndSection\n";
    out.flush();

    session->m_configFile = QDir::tempPath() + QStringLiteral("/xorg-dummy-%1.conf").arg(getpid());
    QFile file(session->m_configFile);
    if (!file.open(QIODevice::WriteOnly) || file.write(config.toUtf8()) < 0) {
        session->m_error = "cannot write " + session->m_configFile;
        return session;
    }
    file.close();
    const QString log = QDir::tempPath() + QStringLiteral("/xorg-dummy-%1.log").arg(getpid());
    if (!session->launchServer(QStringLiteral("Xorg"), {"-config", session->m_configFile, "-noreset",
                                                        "-nolisten", "tcp", "-logfile", log}))
        return session;

    const QStringList names = session->outputs();
    for (int i = 0; i < monitors.size() && i < names.size(); ++i) {
        if (!monitors.at(i).vendor.isEmpty())
            session->setEdidVendor(names.at(i), monitors.at(i).vendor);
    }
    return session;
}

bool XSession::launchServer(const QString &program, const QStringList &arguments)
{
    int pipeFds[2];
    if (pipe(pipeFds) != 0) {
        m_error = "pipe failed";
        return false;
    }
    m_server.setStandardOutputFile(QProcess::nullDevice());
    m_server.setStandardErrorFile(QProcess::nullDevice()); // banners and harmless module warnings
    m_server.start(program, QStringList{"-displayfd", QString::number(pipeFds[1])} + arguments);
    ::close(pipeFds[1]);
    if (!m_server.waitForStarted(5000)) {
        ::close(pipeFds[0]);
        m_error = program + " did not start: " + m_server.errorString();
        return false;
    }
    const QString number = readDisplayNumber(pipeFds[0], 15000);
    ::close(pipeFds[0]);
    if (number.isEmpty()) {
        m_error = program + " never reported a display";
        return false;
    }
    m_display = ":" + number;
    return true;
}

XSession::~XSession()
{
    for (QProcess *p : {&m_tray, &m_server}) {
        if (p->state() == QProcess::NotRunning)
            continue;
        p->terminate();
        if (!p->waitForFinished(5000)) {
            p->kill();
            p->waitForFinished(2000);
        }
    }
    if (!m_configFile.isEmpty())
        QFile::remove(m_configFile);
}

QProcessEnvironment XSession::environment(QProcessEnvironment base) const
{
    base.insert("DISPLAY", m_display);
    base.remove("QT_QPA_PLATFORM");
    base.remove("DBUS_SESSION_BUS_ADDRESS");
    return base;
}

QStringList XSession::outputs() const
{
    QStringList names;
    Display *dpy = XOpenDisplay(m_display.toLatin1().constData());
    if (!dpy)
        return names;
    XRRScreenResources *res = XRRGetScreenResourcesCurrent(dpy, DefaultRootWindow(dpy));
    for (int i = 0; res && i < res->noutput; ++i) {
        XRROutputInfo *info = XRRGetOutputInfo(dpy, res, res->outputs[i]);
        if (info && info->connection == RR_Connected)
            names << QString::fromLatin1(info->name, info->nameLen);
        XRRFreeOutputInfo(info);
    }
    XRRFreeScreenResources(res);
    XCloseDisplay(dpy);
    return names;
}

bool XSession::setEdidVendor(const QString &output, const QString &vendor)
{
    Display *dpy = XOpenDisplay(m_display.toLatin1().constData());
    if (!dpy)
        return false;
    bool done = false;
    XRRScreenResources *res = XRRGetScreenResourcesCurrent(dpy, DefaultRootWindow(dpy));
    for (int i = 0; res && i < res->noutput; ++i) {
        XRROutputInfo *info = XRRGetOutputInfo(dpy, res, res->outputs[i]);
        if (info && QString::fromLatin1(info->name, info->nameLen) == output) {
            const QByteArray edid = edidFor(vendor, i);
            XRRChangeOutputProperty(dpy, res->outputs[i], XInternAtom(dpy, "EDID", False), XA_INTEGER, 8,
                                    PropModeReplace, reinterpret_cast<const unsigned char *>(edid.constData()),
                                    edid.size());
            done = true;
        }
        XRRFreeOutputInfo(info);
    }
    XRRFreeScreenResources(res);
    XSync(dpy, False);
    XCloseDisplay(dpy);
    return done;
}

bool XSession::waitForSelection(const QString &selection, int timeoutMs) const
{
    Display *dpy = XOpenDisplay(m_display.toLatin1().constData());
    if (!dpy)
        return false;
    const Atom atom = XInternAtom(dpy, selection.toLatin1().constData(), False);
    const bool owned = QTest::qWaitFor([&] { return XGetSelectionOwner(dpy, atom) != None; }, timeoutMs);
    XCloseDisplay(dpy);
    return owned;
}

bool XSession::startTray()
{
    m_tray.setProcessEnvironment(environment());
    m_tray.setProcessChannelMode(QProcess::MergedChannels);
    m_tray.setStandardOutputFile(QProcess::nullDevice());
    m_tray.start("trayer", {"--edge", "top", "--align", "right", "--widthtype", "request", "--height", "32",
                            "--SetDockType", "true"});
    if (!m_tray.waitForStarted(5000))
        return false;
    return waitForSelection(QStringLiteral("_NET_SYSTEM_TRAY_S0"), 10000);
}

QImage XSession::screenshot() const
{
    QProcess import;
    import.setProcessEnvironment(environment());
    import.start("import", {"-window", "root", "png:-"});
    if (!import.waitForFinished(20000))
        return QImage();
    return QImage::fromData(import.readAllStandardOutput(), "PNG");
}

int XSession::execTest(QObject *test, int argc, char **argv) const
{
    if (m_display.isEmpty()) {
        qCritical("X session failed: %s", qPrintable(m_error));
        return 1;
    }
    qputenv("DISPLAY", m_display.toLatin1());
    qputenv("QT_QPA_PLATFORM", "xcb");
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    QApplication app(argc, argv);
    return QTest::qExec(test, argc, argv);
}

QString XSession::run(const QString &program, const QStringList &arguments, int *exitCode, int timeoutMs) const
{
    QProcess tool;
    tool.setProcessEnvironment(environment());
    tool.start(program, arguments);
    const bool finished = tool.waitForFinished(timeoutMs);
    if (!finished)
        tool.kill();
    if (exitCode)
        *exitCode = finished ? tool.exitCode() : -1;
    return QString::fromUtf8(tool.readAllStandardOutput());
}

QStringList XSession::visibleWindows(qint64 pid, const QString &nameRegex) const
{
    const QString out = run("xdotool", {"search", "--all", "--onlyvisible", "--pid", QString::number(pid),
                                        "--name", nameRegex});
    return out.split('\n', Qt::SkipEmptyParts);
}

namespace {
// A window may be gone by the time its properties are read: that is no error.
int ignoreXErrors(Display *, XErrorEvent *)
{
    return 0;
}

QString textProperty(Display *dpy, ::Window window, Atom property, Atom type)
{
    Atom actualType = None;
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char *data = nullptr;
    QString text;
    if (XGetWindowProperty(dpy, window, property, 0, 1024, False, type, &actualType, &format, &items, &after, &data)
            == Success
        && data && format == 8)
        text = QString::fromUtf8(reinterpret_cast<const char *>(data), int(items));
    if (data)
        XFree(data);
    return text;
}
} // namespace

WindowWatch::WindowWatch(const XSession &x)
{
    m_display = XOpenDisplay(x.display().toLatin1().constData());
    if (!m_display)
        return;
    XSelectInput(m_display, DefaultRootWindow(m_display), SubstructureNotifyMask);
    XSync(m_display, False);
}

WindowWatch::~WindowWatch()
{
    if (m_display)
        XCloseDisplay(m_display);
}

// A window is learnt when it is created and again when it is mapped: a
// toolkit may name it only between the two.
void WindowWatch::learn(unsigned long window)
{
    Seen &known = m_windows[window];
    XErrorHandler previous = XSetErrorHandler(ignoreXErrors);
    Atom type = None;
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char *data = nullptr;
    if (XGetWindowProperty(m_display, window, XInternAtom(m_display, "_NET_WM_PID", False), 0, 1, False,
                           XA_CARDINAL, &type, &format, &items, &after, &data) == Success
        && data && format == 32 && items == 1)
        known.pid = qint64(*reinterpret_cast<unsigned long *>(data));
    if (data)
        XFree(data);
    QString name = textProperty(m_display, window, XInternAtom(m_display, "_NET_WM_NAME", False),
                                XInternAtom(m_display, "UTF8_STRING", False));
    if (name.isEmpty())
        name = textProperty(m_display, window, XA_WM_NAME, XA_STRING);
    if (!name.isEmpty()) // else the window is gone: what was read before stands
        known.name = name;
    XSync(m_display, False);
    XSetErrorHandler(previous);
}

void WindowWatch::catchUp()
{
    if (!m_display)
        return;
    XSync(m_display, False); // every event up to now is in the queue
    while (XPending(m_display) > 0) {
        XEvent event;
        XNextEvent(m_display, &event);
        switch (event.type) {
        case CreateNotify:
            learn(event.xcreatewindow.window);
            break;
        case MapNotify:
            learn(event.xmap.window);
            m_windows[event.xmap.window].mapped = true;
            m_windows[event.xmap.window].everMapped = true;
            break;
        case UnmapNotify:
            m_windows[event.xunmap.window].mapped = false;
            break;
        case DestroyNotify:
            m_windows[event.xdestroywindow.window].mapped = false;
            break;
        default:
            break;
        }
    }
}

bool WindowWatch::any(qint64 pid, const QString &nameRegex, bool Seen::*state)
{
    catchUp();
    const QRegularExpression name(nameRegex);
    for (const Seen &window : qAsConst(m_windows)) {
        if (window.*state && window.pid == pid && name.match(window.name).hasMatch())
            return true;
    }
    return false;
}

bool WindowWatch::wasMapped(qint64 pid, const QString &nameRegex)
{
    return any(pid, nameRegex, &Seen::everMapped);
}

bool WindowWatch::isMapped(qint64 pid, const QString &nameRegex)
{
    return any(pid, nameRegex, &Seen::mapped);
}
