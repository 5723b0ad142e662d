#pragma once

#include "pad/devicetable.h"
#include "pad/touchinfo.h"

#include <QEventLoopLocker>
#include <QMainWindow>
#include <QPointer>
#include <QSystemTrayIcon>

namespace Ui {
class MainWindow;
}
class CorvanSign;
class DrawJobs;
class DrawPathThread;
class DrawToWebRunnable;
class EvidenceRecorder;
class PageEvents;
class PenSampleQueue;
class QAction;
class QMenu;
class QThread;
class SignScreen;
class WebsocketHandler;

// The hidden hub of the driver: builds, owns and connects the working
// objects, sits in the tray, and carries out the web pages' requests.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    static constexpr quint16 kWebSocketPort = 36325;

    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    WebsocketHandler *webSocketHandler() const { return m_wsHandler; }

    // Web requests (defined in src/web).
    void StartSign();
    // Broadcasts one picture message; GUI or worker thread.
    void sendFile(bool flag, const QByteArray &png);
    // One pen sample (-1) or command (2 re-sign, 3 confirm, 4 cancel);
    // `source` says who gave a command: "page", "pad" or "driver".
    void OnSignScreenBtnClick(int commFlag, const QString &source = QString());
    // Queues a draw-to-web job for `flag`; callable from any thread.
    void requestDrawToWeb(int flag);
    // Replay thread: waits until no picture job is queued, then asks for
    // one; false (nothing asked) once the thread is asked to stop.
    bool requestPacedPicture();

    // The signing window of a type-0 pad: opens it over its monitor, or gives
    // -1 and keeps no window when no monitor is made for it.
    int openSignScreen();
    SignScreen *signScreen() const;
    void CloseSignScreen_10();
    // Replays a Base64 point path file on the canvas in a thread of its own;
    // false (and nothing happens) while an earlier replay is still running.
    bool startPathReplay(const QString &base64);
    void drawPath(QString data); // runs on the replay thread
    DrawPathThread *drawPathThread() const { return m_drawPathThread; }
    DrawToWebRunnable *drawToWebWorker() const { return m_drawToWeb; }

signals:
    void drawToWeb();
    // Every error box and every request dropped without one: the code of
    // errInfo (0 where none applies), the box's text, and the bizcode of the
    // request that failed ("" when the pad or a confirm's save failed).
    void errorReported(int code, const QString &text, const QString &request);
    // A re-sign (2), confirm (3) or cancel (4) about to be carried out.
    void signingCommand(int flag, const QString &source);

public slots:
    void onTextMessageReceived(const QString &message);
    void OnTouchInfoFun(TOUCH_INFO touchInfo);
    void OnDeviceIn(int VID, int PID);
    void OnDeviceOut(int VID, int PID);
    void iconActivated(QSystemTrayIcon::ActivationReason reason);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void CreatTrayIcon();
    void CreatTrayMenu();
    void reclaimPathReplay();
    void setOutputDirectory(const QString &data);
    void sendSerialNumber();
    void showErrorBox(const QString &text, int code, const QString &request);
    // A directory refused (`request` "2025"), or a signature that could not
    // be written there (no request).
    void showUnwritableDirectoryBox(const QString &request);
    void onSigningFailed(int code);
    // Whether a pen sample reaches the canvas: not for a T330 without its window.
    bool drawsPenSamples() const;
    // Stops a running replay and waits for it, so it draws no more.
    void stopPathReplay();

    Ui::MainWindow *ui;
    CorvanSign *m_sign = nullptr;
    // devType -1 until a pad has answered a query: no signing window is
    // involved in commands that arrive before the first signing.
    tagDEVICE_INFO m_devInfo;
    // Cleared by itself when the window deletes itself on close.
    QPointer<SignScreen> m_signScreen;
    WebsocketHandler *m_wsHandler = nullptr;
    PageEvents *m_pageEvents = nullptr;
    PenSampleQueue *m_penSamples = nullptr;
    // The pen data of the signing and a page's request for it (GUI thread).
    EvidenceRecorder *m_evidence = nullptr;
    DrawJobs *m_drawJobs = nullptr;
    DrawToWebRunnable *m_drawToWeb = nullptr;
    QThread *m_drawToWebThread = nullptr;
    // The server and its sockets: sending never waits behind drawing.
    QThread *m_wsThread = nullptr;
    DrawPathThread *m_drawPathThread = nullptr;
    QSystemTrayIcon *m_trayIcon = nullptr;
    QMenu *m_trayMenu = nullptr;
    QAction *m_quitAction = nullptr;
    // Closing the last visible window (a message box, the signing window)
    // must never end the driver; only the quit entry does.
    QEventLoopLocker m_keepRunning;
};
