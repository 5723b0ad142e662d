#include "web/DrawToWebRunnable.h"

#include "app/mainwindow.h"
#include "app/signingstate.h"
#include "ink/ZqDraw.h"
#include "web/drawjobs.h"
#include "web/livepicture.h"

DrawToWebRunnable::DrawToWebRunnable(DrawJobs *jobs, QObject *parent) : QObject(parent), m_jobs(jobs)
{
}

void DrawToWebRunnable::OnDrawToWeb()
{
    int flag = 0;
    if (!m_jobs->startNext(&flag))
        return;
    ZqDraw *canvas = zqDraw;
    MainWindow *window = mdialog;
    switch (flag) {
    case -1:
        // Copied under the canvas lock, encoded outside it.
        window->sendFile(true, livepicture::encode(canvas->picture()));
        break;
    case 2: {
        // The command set the pressure to 0, which ends the canvas's stroke.
        const TOUCH_INFO_F sample = touchinfo_f.get();
        canvas->drawPenLine(int(sample.x), int(sample.y), devXmax, devYmax, sample.pressure);
        canvas->clearImage();
        window->sendFile(false, livepicture::blank());
        isOnTouch = true;
        break;
    }
    case 3:
        canvas->savePointPath(strSavePathName.get());
        canvas->saveImage(strSavePicName.get(), "png");
        canvas->clearImage();
        window->sendFile(false, livepicture::blank());
        break;
    case 4:
        canvas->clearImage();
        window->sendFile(false, livepicture::blank());
        break;
    default:
        break;
    }
    m_jobs->finish();
}
