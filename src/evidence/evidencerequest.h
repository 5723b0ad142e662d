#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>

// What a page asks to have recorded of a signing ("2102"): the pen data
// formats to write beside save.png and path.save, and optionally the
// document the signature is for. The manifest is always written with them.
struct EvidenceRequest
{
    enum Format { InkML = 1, Json = 2, Svg = 4 };
    int formats = 0;           // Format bits
    bool hasDocument = false;
    QString documentSha256;    // 64 lower-case hex digits
    QString reason;            // at most kMaxReasonChars characters

    bool wants(Format format) const { return formats & format; }
    // The formats' names in the order the files are written: inkml, json, svg.
    QStringList formatNames() const;
    // What will be written: {"formats":[...],"document":{"reason","sha256"}|null}.
    QJsonObject toJson() const;
};

namespace evidencerequest {

constexpr int kMaxReasonChars = 200;

// Reads the body of a whole "2102" message. False, with `error` saying why,
// when it cannot be taken: "formats" missing, not an array or naming a format
// other than "inkml", "json" and "svg"; "document" neither absent, null nor
// an object with a 64-digit hex "sha256" and an optional "reason" string of
// at most kMaxReasonChars characters without control characters. A name
// given twice counts once; other members are ignored.
bool parse(const QString &message, EvidenceRequest *request, QString *error);

} // namespace evidencerequest
