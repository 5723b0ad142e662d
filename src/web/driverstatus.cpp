#include "web/driverstatus.h"

#include "pad/CorvanSign.h"
#include "signing/signingstate.h"
#include "web/listensettings.h"

#include <QJsonArray>

namespace {
QString hex4(int id)
{
    return QStringLiteral("%1").arg(id, 4, 16, QLatin1Char('0'));
}

QJsonObject padObject(const tagDEVICE_INFO &info)
{
    return QJsonObject{{"model", info.model},
                       {"vid", hex4(info.vid)},
                       {"pid", hex4(info.pid)},
                       {"serial", info.serial}};
}

// The directory of the last "2025", from the name save.png gets in it.
QJsonValue outputDirectory()
{
    const QString picture = strSavePicName.get();
    const QString suffix = QStringLiteral("/save.png");
    if (!picture.endsWith(suffix))
        return QJsonValue::Null;
    return picture.left(picture.size() - suffix.size());
}
} // namespace

QJsonObject driverStatus(CorvanSign *pad, int padCode, const tagDEVICE_INFO &padInfo, const ListenSettings &settings)
{
    QJsonObject status{{"version", QStringLiteral(ZQ_VERSION)},
                       {"signing", bool(isStartSignOn)},
                       {"replaying", bool(isDrawPath)},
                       {"directory", outputDirectory()}};

    if (isStartSignOn && muti_dev.curIndex >= 0) {
        // The pad is busy with the signing: its serial was read when it started.
        status.insert("pad", padObject(muti_dev.devInfo[muti_dev.curIndex]));
    } else if (padCode == 0) {
        status.insert("pad", padObject(padInfo));
    } else {
        status.insert("pad", QJsonValue::Null);
        status.insert("padError", QJsonObject{{"code", padCode}, {"text", pad->GetErrorMessage(padCode)}});
    }

    QJsonArray addresses;
    for (const QHostAddress &address : settings.addresses())
        addresses.append(address.toString());
    status.insert("listen", QJsonObject{{"addresses", addresses}, {"loopbackOnly", settings.loopbackOnly()}});
    status.insert("allowedOrigins", QJsonArray::fromStringList(settings.allowedOrigins()));
    return status;
}
