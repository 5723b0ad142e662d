// The web pages' requests and the replies built for them (MainWindow members).
#include "app/mainwindow.h"
#include "app/pensamplequeue.h"

#include "evidence/evidencerecorder.h"
#include "ink/ZqDraw.h"
#include "ink/signaturefiles.h"
#include "pad/CorvanSign.h"
#include "signing/signingstate.h"
#include "web/WebsocketHandler.h"
#include "web/webrequest.h"
#include "web/livepicture.h"
#include "web/drawjobs.h"
#include "web/outputdirectory.h"
#include "web/pageevents.h"

#include <QApplication>
#include <QDebug>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageBox>

namespace {
// As long as a pad command waits for the draw-to-web jobs before it.
const int kJobsWaitMs = 5000;
// A page's directory may be megabytes long; the log gets its start.
const int kLoggedDirectoryChars = 256;
const int kLoggedCodeChars = 32;

// The codes handled here, and those PageEvents handles on its own.
bool isKnownRequest(const QString &code)
{
    static const QStringList known{"2025", "2023", "2024", "2022", "2021", "2040", "2020",
                                   QLatin1String(PageEvents::kSubscribe), QLatin1String(PageEvents::kStatus),
                                   QLatin1String(PageEvents::kEvidence)};
    return known.contains(code);
}
}

void MainWindow::onTextMessageReceived(const QString &message)
{
    struct Handled {
        WebsocketHandler *server;
        const QString &message;
        ~Handled() { server->requestHandled(message); }
    } handled{m_wsHandler, message};
    const WebRequest request = webrequest::parse(message);
    if (!request.valid) {
        qWarning().noquote() << "request refused:" << request.refusal;
        return;
    }
    const QString &code = request.bizcode;
    const QString &data = request.data;
    if (!isKnownRequest(code)) {
        qWarning().noquote() << "request ignored: no bizcode the driver knows:" << code.left(kLoggedCodeChars);
        return;
    }

    if (code == "2025")
        setOutputDirectory(data);
    if (code == "2023")
        StartSign();
    if (code == "2024") {
        m_sign->ExitSign();
        OnSignScreenBtnClick(4, QStringLiteral("page"));
    }
    if (code == "2022") {
        m_sign->ExitSign();
        m_penSamples->flush();
        OnSignScreenBtnClick(3, QStringLiteral("page"));
    }
    if (code == "2021") {
        m_sign->reSign();
        OnSignScreenBtnClick(2, QStringLiteral("page"));
    }
    if (code == "2040")
        sendSerialNumber();
    if (code == "2020" && !startPathReplay(data))
        emit errorReported(0, QStringLiteral("replay refused: a replay or a signing is running"), code);
}

void MainWindow::setOutputDirectory(const QString &data)
{
    const OutputDirectory directory = OutputDirectory::prepare(data);
    if (!directory.isUsable()) {
        // Forgotten before the box shows: its event loop may already run a confirm.
        strSavePicName.set(QString());
        strSavePathName.set(QString());
        qWarning() << "directory refused:" << data.left(kLoggedDirectoryChars) << "-" << qPrintable(directory.refusal())
                   << "- confirms save nothing until a usable directory is set";
        showUnwritableDirectoryBox(QStringLiteral("2025"));
        return;
    }
    strSavePicName.set(directory.filePath("save.png"));
    strSavePathName.set(directory.filePath("path.save"));
    // A save that a crash interrupted here is completed now, not only at the next confirm.
    const signaturefiles::Recovery recovered = signaturefiles::tryRecoverSet(directory.path());
    if (recovered.outcome != signaturefiles::Recovery::NothingToDo)
        qInfo().noquote() << recovered.detail;
}

void MainWindow::showUnwritableDirectoryBox(const QString &request)
{
    showErrorBox(QString::fromUtf8("    错误信息： 文件无法创建，请检查目录的操作权限   "), 0, request);
}

void MainWindow::StartSign()
{
    const int code = m_sign->GetDeviceInfo(&m_devInfo);
    if (code != 0) {
        showErrorBox(QString::fromUtf8("    提示信息：    ") + m_sign->GetErrorMessage(code) + "      ", code, "2023");
        return;
    }
    devXmax = m_devInfo.maxX - m_devInfo.minX + 1;
    devYmax = m_devInfo.maxY - m_devInfo.minY + 1;
    const int started = m_sign->StartSign();
    if (started != 0) {
        showErrorBox(QString::fromUtf8("    提示信息：    ") + m_sign->GetErrorMessage(started) + "      ", started,
                     "2023");
        return;
    }

    if (m_devInfo.devType == 0 && openSignScreen() == -1) {
        m_sign->ExitSign();
        showErrorBox(QString::fromUtf8("    错误信息：      请检查手写屏设置是否正确       "), 0, "2023");
        return;
    }
    // Nothing queued before this start may act on the canvas it clears: a
    // replay stops, and a confirm still queued saves its own ink first.
    stopPathReplay();
    if (!m_drawJobs->waitUntilAllDone(kJobsWaitMs))
        qWarning() << "draw-to-web jobs still queued after" << kJobsWaitMs << "ms; starting anyway";
    zqDraw.load()->clearImage();
    sendFile(false, livepicture::blank());
    m_evidence->signingStarted(m_devInfo);
    isOnTouch = true;
}

// The signing has already ended at the pad; the ink so far is dropped as a
// cancel would, so no half signature is ever saved as complete.
void MainWindow::onSigningFailed(int code)
{
    const QString text = QString::fromUtf8("    错误信息：       ") + m_sign->GetErrorMessage(code) + QString(14, ' ');
    if (isOnTouch)
        OnSignScreenBtnClick(4, QStringLiteral("driver"));
    showErrorBox(text, code, QString());
}

void MainWindow::sendSerialNumber()
{
    const int code = m_sign->GetDeviceInfo(&m_devInfo);
    if (code != 0) {
        showErrorBox(QString::fromUtf8("    错误信息：       ") + m_sign->GetErrorMessage(code) + QString(14, ' '), code,
                     "2040");
        return;
    }
    const QJsonObject reply{{"bizcode", "2040"}, {"devicesn", m_devInfo.serial}};
    const QString text = QString::fromUtf8(QJsonDocument(reply).toJson(QJsonDocument::Compact));
    qDebug().noquote() << "序列号====" << text;
    m_wsHandler->sendMessage(text);
}

void MainWindow::sendFile(bool flag, const QByteArray &png)
{
    // QJsonObject keeps its keys sorted, which is exactly the order pages
    // expect: bizcode, body, bool.
    const QJsonObject body{{"signbase64", QString::fromLatin1(png.toBase64())}};
    const QJsonObject reply{{"bizcode", "2006"}, {"body", body}, {"bool", flag}};
    m_wsHandler->sendMessage(QString::fromUtf8(QJsonDocument(reply).toJson(QJsonDocument::Compact)));
}

void MainWindow::showErrorBox(const QString &text, int code, const QString &request)
{
    qWarning().noquote() << QString::fromUtf8("错误:") << text;
    emit errorReported(code, text, request);
    // Without a display a box nobody can see or dismiss would only pile up.
    if (QGuiApplication::platformName() == QLatin1String("offscreen"))
        return;
    QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8("错误"), text);
    // Exactly these flags: the constructor would add the dialog's own.
    box.setWindowFlags(Qt::WindowStaysOnTopHint | Qt::MSWindowsFixedSizeDialogHint);
    QApplication::setQuitOnLastWindowClosed(false);
    box.exec();
}
