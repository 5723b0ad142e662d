#include "evidence/evidencefiles.h"

#include "evidence/inkml.h"
#include "evidence/manifest.h"
#include "evidence/signjson.h"
#include "evidence/signsvg.h"

#include <QFileInfo>

namespace evidencefiles {

QVector<File> encode(const ZqDraw::Signature &signature, const EvidenceCapture &capture,
                     const QVector<signaturefiles::NamedFile> &pair)
{
    const QString directory = pair.isEmpty() ? QString() : QFileInfo(pair.first().fileName).path();
    const auto named = [&directory](const char *name, const QByteArray &bytes) {
        return signaturefiles::NamedFile{directory + QLatin1Char('/') + QLatin1String(name), bytes};
    };
    const EvidenceRequest &request = capture.request;
    QVector<File> files;
    if (request.wants(EvidenceRequest::InkML))
        files.append({QStringLiteral("inkml"), named("sign.inkml", inkml::encode(capture))});
    if (request.wants(EvidenceRequest::Json))
        files.append({QStringLiteral("json"), named("sign.json", signjson::encode(capture, ZqDraw::kWidth, ZqDraw::kHeight))});
    if (request.wants(EvidenceRequest::Svg))
        files.append({QStringLiteral("svg"), named("sign.svg", signsvg::encode(signature.records, signature.cut,
                                                                               signature.pictureSize, signature.penColor))});
    QVector<signaturefiles::NamedFile> listed = pair;
    for (const File &file : qAsConst(files))
        listed.append(file.file);
    files.append({QStringLiteral("manifest"), named("sign.manifest.json", manifest::encode(listed, capture))});
    return files;
}

} // namespace evidencefiles
