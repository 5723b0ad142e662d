#include "app/mainwindow.h"

#include "app/pensamplequeue.h"
#include "app/portnotice.h"
#include "app/startup.h"
#include "evidence/evidencerecorder.h"
#include "ink/DrawPathThread.h"
#include "ink/SignScreen.h"
#include "ink/ZqDraw.h"
#include "pad/CorvanSign.h"
#include "signing/signingstate.h"
#include "ui_mainwindow.h"
#include "web/DrawToWebRunnable.h"
#include "web/WebsocketHandler.h"
#include "web/drawjobs.h"
#include "web/pageevents.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDebug>
#include <QDir>
#include <QMenu>
#include <QThread>

static void initResources()
{
    Q_INIT_RESOURCE(ZQSignDriver);
}

namespace {
const char *const kIconPath = ":/image/res/launcher.ico";
// At shutdown, queued jobs (a confirm's save among them) get this long to finish.
const int kShutdownDrainMs = 10000;
}

MainWindow::MainWindow(QWidget *parent) : QMainWindow(parent), ui(new Ui::MainWindow)
{
    initResources();
    ui->setupUi(this);
    m_devInfo.devType = -1;
    mdialog = this;
    CreatTrayIcon();
    qRegisterMetaType<tagTOUCH_INFO>("TOUCH_INFO");
    m_sign = new CorvanSign();
    if (!zqDraw)
        zqDraw = new ZqDraw(); // the one canvas, kept for the life of the process

    m_drawJobs = new DrawJobs();
    m_drawToWeb = new DrawToWebRunnable(m_drawJobs);
    m_drawToWebThread = new QThread();
    m_drawToWebThread->setObjectName(QStringLiteral("draw-to-web"));
    m_drawToWeb->moveToThread(m_drawToWebThread);
    m_drawToWebThread->start(QThread::InheritPriority);

    const ListenSettings listenSettings = ListenSettings::fromFile(settingsFilePath());
    m_wsHandler = new WebsocketHandler(kWebSocketPort, nullptr, listenSettings);
    connect(m_wsHandler, &WebsocketHandler::portInUse, this, &showPortInUseNotice);
    m_wsThread = new QThread();
    m_wsThread->setObjectName(QStringLiteral("websocket"));
    m_wsHandler->moveToThread(m_wsThread);
    // The handler's end ends its thread: see ~MainWindow.
    connect(m_wsHandler, &QObject::destroyed, m_wsThread, &QThread::quit, Qt::DirectConnection);
    m_wsThread->start(QThread::InheritPriority);

    connect(m_wsHandler, &WebsocketHandler::OnProcessMessage, this, &MainWindow::onTextMessageReceived);
    connect(this, &MainWindow::drawToWeb, m_drawToWeb, &DrawToWebRunnable::OnDrawToWeb);
    m_penSamples = new PenSampleQueue([this](const TOUCH_INFO &sample) { OnTouchInfoFun(sample); }, this);
    connect(m_sign, &CorvanSign::TouchInfoFun, m_penSamples, &PenSampleQueue::push, Qt::DirectConnection);
    connect(m_sign, &CorvanSign::deviceIn, this, &MainWindow::OnDeviceIn);
    connect(m_sign, &CorvanSign::deviceOut, this, &MainWindow::OnDeviceOut);
    connect(m_sign, &CorvanSign::signingFailed, this, &MainWindow::onSigningFailed);

    m_evidence = new EvidenceRecorder();
    m_pageEvents = new PageEvents(m_wsHandler, m_sign, listenSettings, this);
    connect(m_pageEvents, &PageEvents::evidenceRequested, this,
            [this](const EvidenceRequest &request) { m_evidence->request(request); });
    connect(this, &MainWindow::errorReported, m_pageEvents, &PageEvents::reportError);
    connect(this, &MainWindow::signingCommand, m_pageEvents, &PageEvents::commandTaken);
    connect(m_drawToWeb, &DrawToWebRunnable::commandDone, m_pageEvents, &PageEvents::commandDone);
    connect(m_sign, &CorvanSign::padPlugged, m_pageEvents, &PageEvents::padPlugged);
    connect(m_sign, &CorvanSign::padUnplugged, m_pageEvents, &PageEvents::padUnplugged);
    connect(m_drawToWeb, &DrawToWebRunnable::commandDone, this, [this](int, const SavedSignature &saved) {
        if (saved.failed())
            showUnwritableDirectoryBox(QString());
    });
}

// Every thread is stopped before the objects it uses go away: the pad's
// reader with the controller, then the replay, then the worker once its
// queued jobs are done (so a confirm that just arrived still saves), and only
// then the server that both send through.
MainWindow::~MainWindow()
{
    delete m_pageEvents; // hears the objects below as they wind down
    m_pageEvents = nullptr;
    delete m_sign;
    m_sign = nullptr;
    reclaimPathReplay();
    m_drawJobs->waitUntilAllDone(kShutdownDrainMs);
    m_drawToWebThread->quit();
    m_drawToWebThread->wait();
    delete m_drawToWeb;
    delete m_drawToWebThread;
    delete m_drawJobs;
    CloseSignScreen_10();
    // Deleted in its own thread, after every message queued to it. Invoked by
    // name: a functor made here and run there would be ordered only through
    // Qt's event queue, which ThreadSanitizer cannot see.
    QMetaObject::invokeMethod(m_wsHandler, "deleteLater", Qt::QueuedConnection);
    m_wsThread->wait();
    delete m_wsThread;
    delete m_trayIcon;
    delete m_quitAction;
    delete m_trayMenu;
    delete m_evidence;
    delete ui;
    mdialog = nullptr;
}

// Qt picks the tray kind itself: a StatusNotifierItem when a host is
// registered on the session bus, else the XEmbed tray. With neither, the
// quit entry is unreachable, so the log says how else to stop the driver.
void MainWindow::CreatTrayIcon()
{
    CreatTrayMenu();
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        qInfo().noquote() << QStringLiteral("No system tray is available: the driver runs without its icon. "
                                            "Stop it with SIGTERM (kill %1) or by logging out.")
                                 .arg(QCoreApplication::applicationPid());
        return;
    }

    const QIcon icon(kIconPath);
    m_trayIcon = new QSystemTrayIcon(this);
    m_trayIcon->setIcon(icon);
    setWindowIcon(icon);
    m_trayIcon->setToolTip(QString::fromUtf8("手写板驱动"));
    m_trayIcon->setContextMenu(m_trayMenu);
    m_trayIcon->setVisible(true);
    connect(m_trayIcon, &QSystemTrayIcon::activated, this, &MainWindow::iconActivated);
}

void MainWindow::CreatTrayMenu()
{
    m_quitAction = new QAction(QString::fromUtf8("退出(&Q)"), this);
    connect(m_quitAction, &QAction::triggered, qApp, &QCoreApplication::quit);
    m_trayMenu = new QMenu(nullptr);
    m_trayMenu->addAction(m_quitAction);
}

void MainWindow::iconActivated(QSystemTrayIcon::ActivationReason reason)
{
    switch (reason) {
    case QSystemTrayIcon::Unknown:
    case QSystemTrayIcon::Context:
        QApplication::setQuitOnLastWindowClosed(true);
        break;
    case QSystemTrayIcon::DoubleClick:
    case QSystemTrayIcon::Trigger:
    case QSystemTrayIcon::MiddleClick:
        break;
    }
}

int MainWindow::openSignScreen()
{
    if (!m_signScreen)
        m_signScreen = new SignScreen(nullptr);
    if (m_signScreen->StartSignScreen() == -1) {
        CloseSignScreen_10();
        return -1;
    }
    return 0;
}

SignScreen *MainWindow::signScreen() const
{
    return m_signScreen;
}

void MainWindow::CloseSignScreen_10()
{
    if (!m_signScreen)
        return;
    m_signScreen->close();
    delete m_signScreen;
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    CloseSignScreen_10();
    event->accept();
}

void MainWindow::OnDeviceIn(int VID, int PID)
{
    // The next pad operation finds and opens whatever was plugged in.
    qDebug() << "设备接入：OnDeviceIn " << VID << PID;
}

void MainWindow::OnDeviceOut(int VID, int PID)
{
    qDebug() << "设备拔出：OnDeviceOut " << VID;
    // The T330 (type 0) takes its signing window with it.
    if (VID == 2903 && PID == 34100)
        CloseSignScreen_10();
}
