#pragma once

#include "evidence/evidencecapture.h"
#include "ink/signaturefiles.h"

#include <QByteArray>
#include <QVector>

// sign.manifest.json, written last: what binds the files of one signature
// together and to the document the page named.
//   {"version":1,
//    "files":[{"name":"save.png","sha256":"...","size":5123},...],
//    "document":{"sha256":"...","reason":"..."} or null,
//    "pad":{ as in sign.json },
//    "started":"2024-05-01T10:00:00.123Z","confirmed":"...",
//    "samples":812,"strokes":3,
//    "driver":{"name":"ZQSignDriver","version":"1.0"}}
// An integrity record, not a seal: nothing in it is signed with a key, so
// whoever can rewrite the files can rewrite it too.
namespace manifest {

QByteArray encode(const QVector<signaturefiles::NamedFile> &files, const EvidenceCapture &capture);

} // namespace manifest
