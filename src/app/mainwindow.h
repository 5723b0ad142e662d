#pragma once

#include "pad/touchinfo.h"

#include <QEventLoopLocker>
#include <QMainWindow>
#include <QSystemTrayIcon>

namespace Ui {
class MainWindow;
}
class CorvanSign;
class QAction;
class QMenu;
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

public slots:
    void onTextMessageReceived(const QString &message);
    void OnDeviceIn(int VID, int PID);
    void OnDeviceOut(int VID, int PID);
    void iconActivated(QSystemTrayIcon::ActivationReason reason);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void CreatTrayIcon();
    void CreatTrayMenu();

    Ui::MainWindow *ui;
    CorvanSign *m_sign = nullptr;
    WebsocketHandler *m_wsHandler = nullptr;
    QSystemTrayIcon *m_trayIcon = nullptr;
    QMenu *m_trayMenu = nullptr;
    QAction *m_quitAction = nullptr;
    // Closing the last visible window (a message box, the signing window)
    // must never end the driver; only the quit entry does.
    QEventLoopLocker m_keepRunning;
};
