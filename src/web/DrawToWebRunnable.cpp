#include "web/DrawToWebRunnable.h"

#include "app/mainwindow.h"
#include "app/signingstate.h"
#include "ink/ZqDraw.h"
#include "web/drawjobs.h"
#include "web/livepicture.h"

#include <QFileInfo>

namespace {
SavedSignature saveSignature(ZqDraw *canvas)
{
    SavedSignature saved;
    const QString pathName = strSavePathName.get();
    const QString pictureName = strSavePicName.get();
    saved.samples = canvas->pathRecords().size();
    saved.attempted = !pathName.isEmpty() && saved.samples > 0;
    if (canvas->savePointPath(pathName)) {
        saved.pathFile = pathName;
        saved.pathFileBytes = QFileInfo(pathName).size();
    }
    if (canvas->saveImage(pictureName, "png")) {
        saved.picture = pictureName;
        saved.pictureBytes = QFileInfo(pictureName).size();
    }
    return saved;
}
} // namespace

DrawToWebRunnable::DrawToWebRunnable(DrawJobs *jobs, QObject *parent) : QObject(parent), m_jobs(jobs)
{
    qRegisterMetaType<SavedSignature>();
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
        emit commandDone(flag, SavedSignature());
        break;
    }
    case 3: {
        const SavedSignature saved = saveSignature(canvas);
        canvas->clearImage();
        window->sendFile(false, livepicture::blank());
        emit commandDone(flag, saved);
        break;
    }
    case 4:
        canvas->clearImage();
        window->sendFile(false, livepicture::blank());
        emit commandDone(flag, SavedSignature());
        break;
    default:
        break;
    }
    m_jobs->finish();
}
