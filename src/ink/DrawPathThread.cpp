#include "ink/DrawPathThread.h"

#include "app/mainwindow.h"
#include "ink/ZqDraw.h"
#include "ink/pointpath.h"
#include "pad/CorvanSign.h"
#include "pad/base64.h"
#include "signing/signingstate.h"

#include <QDebug>

#include <cstdio>

void DrawPathThread::run()
{
    if (!isDrawPath)
        return;
    // Taken, not copied: a replay's text is up to 32 MiB, and nothing needs
    // it once the replay has it.
    QString data;
    webDrawPathPointData.update([&data](QString &held) { data.swap(held); });
    if (MainWindow *window = mdialog)
        window->drawPath(std::move(data));
    isDrawPath = false;
}

// One replay request at a time: while a replay is pending or running, a
// further request is refused, so two replays never interleave their strokes
// on the canvas and requests cannot pile up threads or path texts.
//
// While a signing is open (from its start until its confirm or cancel, even
// when the pad was pulled out meanwhile) a replay is refused too, and so it
// is while the canvas holds a signer's ink not yet saved or dropped: the
// canvas then holds the signer's ink alone.
bool MainWindow::startPathReplay(const QString &base64)
{
    if (isStartSignOn || isOnTouch) {
        qDebug() << "path replay refused: a signing is under way";
        return false;
    }
    if (ZqDraw *canvas = zqDraw; canvas && canvas->holdsSignerInk()) {
        qDebug() << "path replay refused: the canvas holds a signature not yet confirmed or cancelled";
        return false;
    }
    bool idle = false;
    if (!isDrawPath.compare_exchange_strong(idle, true)) {
        qDebug() << "path replay refused: the previous replay is still running";
        return false;
    }
    reclaimPathReplay();
    webDrawPathPointData.set(base64);
    m_drawPathThread = new DrawPathThread();
    m_drawPathThread->start(QThread::InheritPriority);
    return true;
}

void MainWindow::stopPathReplay()
{
    reclaimPathReplay();
    isDrawPath = false;
}

// Deletes the previous replay thread. Called once isDrawPath is clear, when
// that thread has left drawPath, or at shutdown after asking it to stop.
void MainWindow::reclaimPathReplay()
{
    if (!m_drawPathThread)
        return;
    m_drawPathThread->requestInterruption();
    m_drawPathThread->wait();
    delete m_drawPathThread;
    m_drawPathThread = nullptr;
}

// Decodes a whole point path file from Base64 and draws its points on the
// canvas; every tenth drawn point of the process asks for a web snapshot.
void MainWindow::drawPath(QString data)
{
    const std::string bytes = utils::base64_decode(data.toUtf8().toStdString());
    data.clear(); // the text is not needed while the points are drawn
    pointpath::PathFile file;
    if (!pointpath::decodeFile(bytes, &file)) {
        qDebug() << "path replay: data shorter than the header, nothing to draw";
        return;
    }
    std::printf("w= %d  h =%d\n", file.width, file.height);
    std::fflush(stdout);
    if (file.skippedLines > 0)
        qDebug() << "path replay: skipped unreadable lines:" << file.skippedLines;

    ZqDraw *canvas = zqDraw;
    if (!canvas)
        return;
    for (const pointpath::PathPoint &point : file.points) {
        if (QThread::currentThread()->isInterruptionRequested())
            return;
        // Pressure decides whether a point continues the stroke, except that a
        // start record never joins the stroke before it: an end record left by
        // a pen that slid off the area still carries pressure, and so do its
        // hover copies, which would otherwise draw a line the signer never drew.
        // An end record lifts the pen too: it may carry pressure and, in files
        // written before it named its own stroke's point, the previous
        // stroke's point.
        const bool drawn = (point.state != 1 || canvas->drawPathPoint(point.x, point.y, 0))
                           && canvas->drawPathPoint(point.x, point.y, point.state == 3 ? 0 : point.pressure);
        if (!drawn) {
            qDebug() << "path replay stopped: a signer's ink is on the canvas";
            return;
        }
        if (pointIndexa.fetch_add(1) % 10 == 0 && !requestPacedPicture())
            return;
    }
}
