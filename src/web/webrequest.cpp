#include "web/webrequest.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

namespace webrequest {

WebRequest parse(const QString &message)
{
    WebRequest request;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(message.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError)
        return request;
    const QJsonObject object = document.object();
    request.valid = true;
    request.bizcode = object.value("bizcode").toString();
    request.data = object.value("body").toObject().value("data").toString();
    return request;
}

} // namespace webrequest
