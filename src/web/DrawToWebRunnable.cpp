#include "web/DrawToWebRunnable.h"

#include "app/mainwindow.h"
#include "evidence/evidencefiles.h"
#include "ink/ZqDraw.h"
#include "ink/signaturefiles.h"
#include "signing/signingstate.h"
#include "web/drawjobs.h"
#include "web/livepicture.h"

#include <QDebug>
#include <QThread>

namespace {
// Live pictures go out at most this often, about as often as pages have
// been taking them (and five times what a screen shows). Encoding alone
// allows several times more, which a page, or a replay paced by this
// worker, could not take: the pictures would pile up in the page's socket
// until it counts as not reading. Faster requests wait as jobs (and merge
// there beyond the jobs' limit).
constexpr qint64 kLivePictureGapUs = 3000;
} // namespace

DrawToWebRunnable::DrawToWebRunnable(DrawJobs *jobs, QObject *parent) : QObject(parent), m_jobs(jobs)
{
    qRegisterMetaType<SavedSignature>();
}

void DrawToWebRunnable::attachToNextConfirm(std::optional<EvidenceCapture> capture)
{
    std::lock_guard<std::mutex> lock(m_capturesMutex);
    m_captures.push_back(std::move(capture));
}

std::optional<EvidenceCapture> DrawToWebRunnable::takeCapture()
{
    std::lock_guard<std::mutex> lock(m_capturesMutex);
    if (m_captures.empty())
        return std::nullopt;
    std::optional<EvidenceCapture> capture = std::move(m_captures.front());
    m_captures.pop_front();
    return capture;
}

void DrawToWebRunnable::OnDrawToWeb()
{
    if (!m_jobs->startNext())
        return;
    const int flag = ExcCommFlag;
    ZqDraw *canvas = zqDraw;
    MainWindow *window = mdialog;
    switch (flag) {
    case -1:
        if (m_sinceLivePicture.isValid()) {
            const qint64 waitUs = kLivePictureGapUs - m_sinceLivePicture.nsecsElapsed() / 1000;
            if (waitUs > 0)
                QThread::usleep(static_cast<unsigned long>(waitUs));
        }
        m_sinceLivePicture.start();
        window->sendFile(true, livePicture(canvas));
        break;
    case 2: {
        // The command set the pressure to 0, which ends the canvas's stroke.
        const TOUCH_INFO_F sample = touchinfo_f.get();
        canvas->drawPenLine(int(sample.x), int(sample.y), devXmax, devYmax, sample.pressure);
        canvas->clearImage();
        // Taking samples again before the page hears of the re-sign: a page
        // that starts the pen on the blank picture loses no sample.
        isOnTouch = true;
        window->sendFile(false, livepicture::blank());
        emit commandDone(flag, SavedSignature());
        break;
    }
    case 3: {
        const SavedSignature saved = saveSignature(canvas, takeCapture());
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

// The bands drawn on since the last picture are copied under the canvas
// lock and compressed outside it. Should the palette rows not hold the
// picture exactly, the whole picture is copied and encoded instead.
QByteArray DrawToWebRunnable::livePicture(ZqDraw *canvas)
{
    if (canvas->copyPaletteRows(&m_paletteRows)) {
        const QByteArray png = m_encoder.encode(m_paletteRows);
        if (!png.isEmpty())
            return png;
    }
    return livepicture::encode(canvas->picture());
}

// Only ink drawn since the signing started is a signature: a confirm with
// none (no signing running, or a second confirm) leaves the saved files as
// they are, so they always belong to the same signing. With a page's pen
// data request the pen data files and their manifest join save.png and
// path.save in one set.
SavedSignature DrawToWebRunnable::saveSignature(ZqDraw *canvas, const std::optional<EvidenceCapture> &capture)
{
    SavedSignature saved;
    if (capture) {
        saved.evidenceRequested = true;
        const QStringList keys = capture->request.formatNames() << QStringLiteral("manifest");
        for (const QString &key : keys)
            saved.evidence.append({key, QString(), 0});
    }
    ZqDraw::Signature signature;
    if (!canvas->takeSignature(&signature)) {
        qInfo() << "confirm without new ink: the saved signature stays as it is";
        return saved;
    }
    saved.samples = signature.samples;
    const QString pictureName = strSavePicName.get();
    const QString pathName = strSavePathName.get();
    if (pictureName.isEmpty()) {
        qWarning() << "confirm without a usable directory: the signature is not saved";
        return saved;
    }
    saved.attempted = true;
    if (signature.picture.isEmpty()) {
        qWarning().noquote() << "signature not saved: the picture could not be encoded";
        return saved;
    }
    QVector<signaturefiles::NamedFile> set{{pathName, signature.pointPath}, {pictureName, signature.picture}};
    QVector<evidencefiles::File> evidence;
    if (capture) {
        evidence = evidencefiles::encode(signature, *capture, set);
        for (const evidencefiles::File &file : qAsConst(evidence))
            set.append(file.file);
    }
    const signaturefiles::SaveResult result = signaturefiles::writeSet(set);
    if (!result.saved) {
        qWarning().noquote() << "signature not saved:" << result.failure;
        return saved;
    }
    qInfo().noquote() << "signature saved:" << pictureName << pathName;
    saved.picture = pictureName;
    saved.pictureBytes = signature.picture.size();
    saved.pathFile = pathName;
    saved.pathFileBytes = signature.pointPath.size();
    saved.evidence.clear();
    for (const evidencefiles::File &file : qAsConst(evidence)) {
        saved.evidence.append({file.key, file.file.fileName, file.file.bytes.size()});
        if (file.key == QLatin1String("json"))
            saved.penData = file.file.bytes;
    }
    if (!evidence.isEmpty())
        qInfo().noquote() << "pen data saved:" << evidence.size() << "files with manifest"
                          << evidence.last().file.fileName;
    return saved;
}
