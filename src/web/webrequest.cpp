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
        const QByteArray text = message.toUtf8();
        // A page's protocol never repeats a key; such a message is refused.
        if (jsonRepeatsKeys(text))
            return request;
        QJsonParseError error;
        document = QJsonDocument::fromJson(text, &error);
        if (error.error != QJsonParseError::NoError)
            return request;
    }
    const QJsonObject object = document.object();
    request.valid = true;
    request.bizcode = object.value("bizcode").toString();
    request.data = object.value("body").toObject().value("data").toString();
    return request;
}

} // namespace webrequest
