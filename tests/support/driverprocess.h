#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>

// The real ZQSignDriver binary as a child process, in a home, temporary and
// runtime folder of its own under `root`.
class DriverProcess
{
public:
    // `root` holds home/, tmp/ and runtime/; several drivers may share one
    // root to meet each other's lock file and settings. `base` is passed on as it is, so a
    // virtual pad's environment (PadSim::childEnvironment) reaches the driver.
    explicit DriverProcess(const QString &root, QProcessEnvironment base = QProcessEnvironment::systemEnvironment());
    ~DriverProcess();

    void setEnvironmentValue(const QString &name, const QString &value);
    // Runs the driver as another user (the test runs as root): the folders
    // under `root` are handed to `uid`, and the driver starts through setpriv.
    bool runAsUser(uint uid);

    // Records the welcome notice as shown, as after a user's first start.
    bool skipWelcomeNotice();
    bool start();
    // True once something accepts connections on 127.0.0.1:36325.
    static bool portAccepts(int timeoutMs);
    bool waitForOutput(const QString &text, int timeoutMs);
    bool waitForExit(int timeoutMs);
    // SIGTERM, then the exit code (-1 when it had to be killed or crashed).
    int terminate(int timeoutMs = 10000);
    void kill();

    QString output();
    qint64 pid() const { return m_process.processId(); }
    bool isRunning() const { return m_process.state() != QProcess::NotRunning; }
    int exitCode() const;
    QString homeDir() const { return m_root + "/home"; }
    QString tempDir() const { return m_root + "/tmp"; }
    QString runtimeDir() const { return m_root + "/runtime"; }
    QString settingsFile() const { return homeDir() + "/.config/ZQSignDriver/ZQHIDSettings.ini"; }

private:
    void printSanitizerReport();

    QString m_root;
    QProcessEnvironment m_env;
    QProcess m_process;
    int m_uid = -1;
    QString m_output;
};
