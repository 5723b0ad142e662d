#include "evidence/manifest.h"

#include "evidence/penruns.h"
#include "evidence/signjson.h"

#include <QCryptographicHash>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>

namespace manifest {

QByteArray encode(const QVector<signaturefiles::NamedFile> &files, const EvidenceCapture &capture)
{
    QJsonArray listed;
    for (const signaturefiles::NamedFile &file : files) {
        const QByteArray sha256 = QCryptographicHash::hash(file.bytes, QCryptographicHash::Sha256).toHex();
        listed.append(QJsonObject{{"name", QFileInfo(file.fileName).fileName()},
                                  {"sha256", QString::fromLatin1(sha256)},
                                  {"size", double(file.bytes.size())}});
    }
    const EvidenceRequest &request = capture.request;
    const QJsonValue document = request.hasDocument
                                    ? QJsonValue(QJsonObject{{"sha256", request.documentSha256}, {"reason", request.reason}})
                                    : QJsonValue(QJsonValue::Null);
    int strokes = 0;
    for (const penruns::Run &run : penruns::split(capture.samples))
        strokes += run.penDown ? 1 : 0;
    const QJsonObject manifest{
        {"version", 1},
        {"files", listed},
        {"document", document},
        {"pad", signjson::padObject(capture.pad)},
        {"started", capture.startedUtc.toUTC().toString(Qt::ISODateWithMs)},
        {"confirmed", capture.confirmedUtc.toUTC().toString(Qt::ISODateWithMs)},
        {"samples", capture.samples.size()},
        {"strokes", strokes},
        {"driver", QJsonObject{{"name", "ZQSignDriver"}, {"version", QStringLiteral(ZQ_VERSION)}}}};
    return QJsonDocument(manifest).toJson(QJsonDocument::Indented);
}

} // namespace manifest
