// Pen samples and pad commands on their way to the canvas, the signing window
// and the draw-to-web worker (MainWindow members).
#include "app/mainwindow.h"

#include "evidence/evidencerecorder.h"
#include "ink/SignScreen.h"
#include "ink/ZqDraw.h"
#include "pad/CorvanSign.h"
#include "signing/signingstate.h"
#include "web/DrawToWebRunnable.h"
#include "web/drawjobs.h"

#include <QDebug>
#include <QThread>

namespace {
// A job only ever writes files and encodes pictures; should the disk hang,
// the GUI thread carries on after this long (the command's own job still
// runs after the slow one).
const int kCommandWaitMs = 5000;
// How soon a paced replay notices that it is asked to stop.
const int kPacingSliceMs = 100;
}

void MainWindow::OnTouchInfoFun(TOUCH_INFO touchInfo)
{
    if (!isOnTouch)
        return;
    touchinfo_f.update([&touchInfo](TOUCH_INFO_F &sample) {
        sample.x = float(touchInfo.x);
        sample.y = float(touchInfo.y);
        sample.pressure = touchInfo.pressure;
    });
    switch (touchInfo.btnId) {
    case -1:
        if (drawsPenSamples())
            m_evidence->sample(touchInfo);
        OnSignScreenBtnClick(-1);
        break;
    case 2:
        m_sign->reSign();
        OnSignScreenBtnClick(2, QStringLiteral("pad"));
        break;
    case 3:
    case 4:
        m_sign->ExitSign();
        OnSignScreenBtnClick(touchInfo.btnId, QStringLiteral("pad"));
        break;
    default:
        break;
    }
}

void MainWindow::OnSignScreenBtnClick(int commFlag, const QString &source)
{
    const TOUCH_INFO_F sample = touchinfo_f.get();
    const int x = int(sample.x);
    const int y = int(sample.y);

    if (commFlag == -1) {
        if (!drawsPenSamples())
            return;
        if (m_devInfo.devType == 0)
            m_signScreen->drawPenLine(x, y, devXmax, devYmax, sample.pressure);
        zqDraw.load()->drawPenLine(x, y, devXmax, devYmax, sample.pressure);
        if (pointIndexa.fetch_add(1) % 10 == 0)
            requestDrawToWeb(-1);
        return;
    }

    isOnTouch = false;
    touchinfo_f.update([](TOUCH_INFO_F &s) { s.pressure = 0; });
    if (!m_drawJobs->waitWhileOneRuns(kCommandWaitMs))
        qWarning() << "a draw-to-web job is still running after" << kCommandWaitMs << "ms; going on";

    if (commFlag == 2 || commFlag == 3 || commFlag == 4)
        emit signingCommand(commFlag, source);
    switch (commFlag) {
    case 2:
        if (m_devInfo.devType == 0 && m_signScreen) {
            m_signScreen->clearImage();
            m_signScreen->drawPenLine(x, y, devXmax, devYmax, 0);
        }
        m_evidence->signingRestarted();
        requestDrawToWeb(2);
        break;
    case 3:
        if (m_devInfo.devType == 0)
            CloseSignScreen_10();
        m_drawToWeb->attachToNextConfirm(m_evidence->confirm());
        requestDrawToWeb(3);
        break;
    case 4:
        if (m_devInfo.devType == 0)
            CloseSignScreen_10();
        m_evidence->cancel();
        requestDrawToWeb(4);
        break;
    default:
        break;
    }
}

bool MainWindow::drawsPenSamples() const
{
    return m_devInfo.devType != 0 || m_signScreen;
}

void MainWindow::requestDrawToWeb(int flag)
{
    if (m_drawJobs->push(flag))
        emit drawToWeb();
}

// Paced by the worker: at most one picture of a replay waits, so none
// merges and a command sent meanwhile is not stuck behind thousands of them.
bool MainWindow::requestPacedPicture()
{
    while (!m_drawJobs->waitUntilNoPictureQueued(kPacingSliceMs)) {
        if (QThread::currentThread()->isInterruptionRequested())
            return false;
    }
    requestDrawToWeb(-1);
    return true;
}
