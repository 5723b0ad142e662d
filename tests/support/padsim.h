#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

// Talks to the virtual pad over its control socket: in-process when the test
// itself runs with libpadsim.so preloaded, or to a child process started with
// PadSim::childEnvironment(). Safe to use from any thread; every command is one
// short connection.
class PadSim
{
public:
    // $PADSIM_SOCKET (run-isolated.sh sets it), else the library's default.
    explicit PadSim(const QString &socketPath = defaultSocketPath());

    // Sends one command line and returns the whole reply: "ok ..." or
    // "error: ..." (also when the socket cannot be reached within the wait),
    // followed by the extra lines of `log`, `status` and `help`.
    QString command(const QString &line, int waitMs = 5000) const;
    bool ok(const QString &line) const { return command(line).startsWith("ok"); }

    bool plug(const QString &what) const { return ok("plug " + what); }
    bool plugUsb(const QString &what) const { return ok("plug-usb " + what); }
    bool unplug(const QString &what) const { return ok("unplug " + what); }
    bool report(const QString &hex) const { return ok("report " + hex); }
    bool fault(const QString &name) const { return ok("fault " + name); }
    QStringList log() const;       // the call log, one call a line
    bool clearLog() const { return ok("log clear"); }
    QStringList status() const;
    // Waits until something serves the socket (a child that is starting up).
    bool waitReady(int waitMs = 10000) const;
    // Waits until the host has taken every report the open pad sent and is
    // back in a read for more: what it does with a report is done by then.
    // Runs the event loop meanwhile.
    bool waitUntilAllRead(int waitMs = 10000) const;
    // How many times the host looked for device changes so far (`looks`).
    long hostLooks() const;
    // Waits until the host looked `more` times after `since`: once it looked
    // twice after a change, its monitor has seen the change.
    bool waitForHostLooks(long since, int more = 2, int waitMs = 10000) const;
    // Reports the open pad lost since it was opened because the host fell a
    // full queue behind, as hidapi loses them (-1 when no pad is open). A
    // stroke played at a fixed rate can lose some on a busy machine; one
    // played at "rate max" never does.
    long droppedReports() const;
    // Waits until the stroke playing now has sent `steps` steps, or ended.
    bool waitForStrokeSteps(int steps, int waitMs = 10000) const;

    QString socketPath() const { return m_socketPath; }
    static QString defaultSocketPath();
    // LD_PRELOAD (sanitizer runtime first where the build has one) and
    // PADSIM_SOCKET for a child process that should meet this virtual pad.
    QProcessEnvironment childEnvironment(QProcessEnvironment base = QProcessEnvironment::systemEnvironment()) const;

private:
    QStringList body(const QString &line) const;
    QString m_socketPath;
};
