#pragma once

#include "evidence/evidencecapture.h"
#include "ink/ZqDraw.h"
#include "ink/signaturefiles.h"

#include <QString>
#include <QVector>

// The pen data files of one confirmed signature, beside its save.png and
// path.save: the formats the page asked for, then the manifest, which lists
// every file of the signature with its hash and so is written last.
namespace evidencefiles {

struct File
{
    QString key; // "inkml", "json", "svg" or "manifest", as the "2110" result names it
    signaturefiles::NamedFile file;
};

// `pair` is path.save and save.png as they are written.
QVector<File> encode(const ZqDraw::Signature &signature, const EvidenceCapture &capture,
                     const QVector<signaturefiles::NamedFile> &pair);

} // namespace evidencefiles
