#pragma once

#include <QHash>
#include <QImage>
#include <QList>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSize>
#include <QStringList>

#include <memory>

// A private X server for one test: Xvfb for a single monitor, or Xorg with
// the dummy video driver for several monitors side by side. Optionally a
// system-tray host. Everything is stopped when the session is destroyed.
class XSession
{
public:
    struct Monitor
    {
        QString vendor; // three-letter EDID manufacturer id; empty: no EDID
        QSize size{1920, 1080};
    };

    static std::unique_ptr<XSession> startXvfb(const QSize &size = QSize(1920, 1080));
    // Monitors placed left to right, each on its own RandR output.
    static std::unique_ptr<XSession> startMonitors(const QList<Monitor> &monitors);
    ~XSession();

    QString display() const { return m_display; }
    QString lastError() const { return m_error; }
    // `base` with DISPLAY pointing at this server.
    QProcessEnvironment environment(QProcessEnvironment base = QProcessEnvironment::systemEnvironment()) const;

    QStringList outputs() const;
    // Stores a 128-byte EDID carrying `vendor` on a RandR output. Qt reads it
    // when it creates the screen, so set it before the program under test starts.
    bool setEdidVendor(const QString &output, const QString &vendor);

    // Starts a tray host (trayer) and waits until it owns the tray selection.
    bool startTray();

    QImage screenshot() const;

    // Runs a QTest object with this process as a GUI client of this server
    // (xcb platform). Call from main() before any Qt application exists, so
    // that Qt reads the monitors, EDIDs included, as set up here.
    int execTest(QObject *test, int argc, char **argv) const;

    // Runs an X client tool (xdotool, xwininfo, xprop, ...) against this server.
    QString run(const QString &program, const QStringList &arguments, int *exitCode = nullptr,
                int timeoutMs = 10000) const;

    // Visible top-level windows of process `pid` whose name matches `nameRegex`.
    QStringList visibleWindows(qint64 pid, const QString &nameRegex = QStringLiteral(".*")) const;

private:
    XSession() = default;
    bool launchServer(const QString &program, const QStringList &arguments);
    bool waitForSelection(const QString &selection, int timeoutMs) const;

    QProcess m_server;
    QProcess m_tray;
    QString m_display;
    QString m_error;
    QString m_configFile;
};

// Sees the top-level windows of an X session as the server maps and unmaps
// them, from the server's own events, so that a window shown only briefly
// is not missed between two looks. Create it before the program under test
// starts; it reads each window's process and name as soon as it learns of
// the window.
class WindowWatch
{
public:
    explicit WindowWatch(const XSession &x);
    ~WindowWatch();
    WindowWatch(const WindowWatch &) = delete;
    WindowWatch &operator=(const WindowWatch &) = delete;

    bool isOpen() const { return m_display != nullptr; }
    // Whether a window of process `pid` whose name matches `nameRegex` has
    // been mapped so far, or is mapped now.
    bool wasMapped(qint64 pid, const QString &nameRegex);
    bool isMapped(qint64 pid, const QString &nameRegex);

private:
    struct Seen
    {
        qint64 pid = 0;
        QString name;
        bool mapped = false;
        bool everMapped = false;
    };
    void catchUp();
    void learn(unsigned long window);
    bool any(qint64 pid, const QString &nameRegex, bool Seen::*state);

    struct _XDisplay *m_display = nullptr;
    QHash<unsigned long, Seen> m_windows;
};
