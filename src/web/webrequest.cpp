#include "web/webrequest.h"

#include "pad/jsonkeys.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

namespace webrequest {

WebRequest parse(const QString &message)
{
    WebRequest request;
    QJsonDocument document;
    {
        // Gone before the fields are copied out: a replay's message is up to
        // 16 MiB, and each copy of it counts in the driver's peak memory.
        QByteArray text = message.toUtf8();
        // Repeated keys are given keys of their own first, which Qt's reader
        // would otherwise leak; what it reads for each key is unchanged.
        text = jsonWithUniqueKeys(text, &request.refusal);
        if (!request.refusal.isEmpty()) {
            request.refusal.prepend(QStringLiteral("not JSON: "));
            return request;
        }
        QJsonParseError error;
        document = QJsonDocument::fromJson(text, &error);
        if (error.error != QJsonParseError::NoError) {
            request.refusal = QStringLiteral("not JSON: %1 at byte %2").arg(error.errorString()).arg(error.offset);
            return request;
        }
    }
    const QJsonObject object = document.object();
    request.valid = true;
    request.bizcode = object.value("bizcode").toString();
    request.data = object.value("body").toObject().value("data").toString();
    return request;
}

} // namespace webrequest
