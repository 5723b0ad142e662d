#include "evidence/evidencerequest.h"

#include "pad/jsonkeys.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>

namespace {
struct FormatName
{
    EvidenceRequest::Format format;
    const char *name;
};
const FormatName kFormats[] = {{EvidenceRequest::InkML, "inkml"},
                               {EvidenceRequest::Json, "json"},
                               {EvidenceRequest::Svg, "svg"}};

bool isHexDigest(const QString &text)
{
    if (text.size() != 64)
        return false;
    for (const QChar c : text) {
        const bool digit = c >= QLatin1Char('0') && c <= QLatin1Char('9');
        const bool letter = (c >= QLatin1Char('a') && c <= QLatin1Char('f')) || (c >= QLatin1Char('A') && c <= QLatin1Char('F'));
        if (!digit && !letter)
            return false;
    }
    return true;
}

// Characters as people count them: a pair of UTF-16 surrogates is one.
// False for text that cannot be written out faithfully: control characters
// or a surrogate without its pair.
bool countCharacters(const QString &text, int *count)
{
    *count = 0;
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
            ++i;
        else if (c.isSurrogate() || c.category() == QChar::Other_Control)
            return false;
        ++*count;
    }
    return true;
}

bool readFormats(const QJsonValue &value, EvidenceRequest *request, QString *error)
{
    if (!value.isArray()) {
        *error = QStringLiteral("\"formats\" must be an array");
        return false;
    }
    for (const QJsonValue &element : value.toArray()) {
        const QString name = element.toString();
        const FormatName *known = nullptr;
        for (const FormatName &format : kFormats)
            if (element.isString() && name == QLatin1String(format.name))
                known = &format;
        if (!known) {
            *error = QStringLiteral("unknown format in \"formats\" (known: inkml, json, svg)");
            return false;
        }
        request->formats |= known->format;
    }
    return true;
}

bool readDocument(const QJsonValue &value, EvidenceRequest *request, QString *error)
{
    if (value.isUndefined() || value.isNull())
        return true;
    const QJsonObject document = value.toObject();
    const QString sha256 = document.value(QLatin1String("sha256")).toString();
    if (!value.isObject() || !isHexDigest(sha256)) {
        *error = QStringLiteral("\"document\" needs \"sha256\": 64 hexadecimal digits");
        return false;
    }
    const QJsonValue reason = document.value(QLatin1String("reason"));
    int characters = 0;
    if (!reason.isUndefined() && (!reason.isString() || !countCharacters(reason.toString(), &characters))) {
        *error = QStringLiteral("\"reason\" must be text without control characters");
        return false;
    }
    if (characters > evidencerequest::kMaxReasonChars) {
        *error = QStringLiteral("\"reason\" is longer than %1 characters").arg(evidencerequest::kMaxReasonChars);
        return false;
    }
    request->hasDocument = true;
    request->documentSha256 = sha256.toLower();
    request->reason = reason.toString();
    return true;
}
} // namespace

QStringList EvidenceRequest::formatNames() const
{
    QStringList names;
    for (const FormatName &format : kFormats)
        if (wants(format.format))
            names << QLatin1String(format.name);
    return names;
}

QJsonObject EvidenceRequest::toJson() const
{
    const QJsonValue document = hasDocument ? QJsonValue(QJsonObject{{"sha256", documentSha256}, {"reason", reason}})
                                            : QJsonValue(QJsonValue::Null);
    return QJsonObject{{"formats", QJsonArray::fromStringList(formatNames())}, {"document", document}};
}

namespace evidencerequest {

bool parse(const QString &message, EvidenceRequest *request, QString *error)
{
    *request = EvidenceRequest();
    const QByteArray text = message.toUtf8();
    QJsonParseError parseError;
    const QJsonDocument json = jsonRepeatsKeys(text) ? QJsonDocument() : QJsonDocument::fromJson(text, &parseError);
    const QJsonValue body = json.object().value(QLatin1String("body"));
    if (!body.isObject()) {
        *error = QStringLiteral("the request needs a \"body\" object");
        return false;
    }
    const QJsonObject object = body.toObject();
    EvidenceRequest read;
    if (!readFormats(object.value(QLatin1String("formats")), &read, error)
        || !readDocument(object.value(QLatin1String("document")), &read, error))
        return false;
    *request = read;
    return true;
}

} // namespace evidencerequest
