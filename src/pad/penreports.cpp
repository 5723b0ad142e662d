#include "pad/penreports.h"

#include "pad/jsonkeys.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonParseError>

#include <cstring>

namespace penreports {

namespace {
constexpr int kKz07HeaderBytes = 12;
constexpr int kKz07MaxTextBytes = 206;

uint16_t word(unsigned char high, unsigned char low)
{
    return static_cast<uint16_t>(high << 8 | low);
}

int32_t decimalField(const QJsonObject &sample, const char *key)
{
    bool ok = false;
    const int32_t value = sample.value(QLatin1String(key)).toString().toInt(&ok, 10);
    return ok ? value : 0;
}
} // namespace

T330Report::T330Report(const unsigned char *raw)
    : x(word(raw[2], raw[3]) ^ (raw[1] & 0x10 ? 0x8000 : 0)),
      y(word(raw[4], raw[5]) ^ (raw[1] & 0x08 ? 0x8000 : 0)),
      pressure(static_cast<uint16_t>(raw[6] << 3 | (raw[7] >> 6) << 1 | (raw[1] & 1)))
{
}

int32_t t330ButtonAt(int x, int y, int width, int height)
{
    if (y <= height * 7 / 8 || y >= height)
        return kNoButton;
    if (x < width / 3)
        return kConfirm;
    if (x < width * 2 / 3)
        return kReSign;
    if (x < width)
        return kCancel;
    return kNoButton;
}

Qz07Report::Qz07Report(const unsigned char *raw)
    : x(word(raw[3], raw[2])),
      y(word(raw[5], raw[4])),
      pressure(word(raw[7], raw[6]) & 0x7FFF),
      btnId(kNoButton)
{
    if (raw[0] != 0x02 || raw[1] != 0x80)
        return;
    const unsigned char *text = raw + 2;
    if (std::memcmp(text, "CL", 2) == 0)
        btnId = kReSign;
    else if (std::memcmp(text, "CNCL", 4) == 0)
        btnId = kCancel;
    else if (std::memcmp(text, "OK", 2) == 0)
        btnId = kConfirm;
}

QJsonDocument kz07Json(const QByteArray &report, bool *ok)
{
    QByteArray text = report.mid(kKz07HeaderBytes, kKz07MaxTextBytes);
    const int end = text.indexOf('\0');
    if (end >= 0)
        text.truncate(end);
    text = QString::fromUtf8(text).toUtf8();
    if (jsonRepeatsKeys(text)) {
        *ok = false;
        return QJsonDocument();
    }
    QJsonParseError error;
    const QJsonDocument json = QJsonDocument::fromJson(text, &error);
    *ok = error.error == QJsonParseError::NoError;
    return json;
}

Kz07Report::Kz07Report(const QByteArray &report)
{
    bool ok = false;
    const QJsonDocument json = kz07Json(report, &ok);
    const QJsonValue info = json.object().value(QLatin1String("info"));
    if (!ok || !info.isArray())
        return;
    for (const QJsonValue &element : info.toArray()) {
        const QJsonObject sample = element.toObject();
        TOUCH_INFO touch;
        touch.x = decimalField(sample, "x");
        touch.y = decimalField(sample, "y");
        touch.pressure = decimalField(sample, "pressure");
        touch.btnId = decimalField(sample, "btnId");
        samples.append(touch);
    }
}

QVector<TOUCH_INFO> decode(int model, const QByteArray &report, const tagDEVICE_INFO &row)
{
    const auto *raw = reinterpret_cast<const unsigned char *>(report.constData());
    TOUCH_INFO touch;
    switch (model) {
    case 0: {
        if (report.size() < kPenReportBytes)
            return {};
        const T330Report pen(raw);
        touch.x = pen.x;
        touch.y = pen.y;
        touch.pressure = pen.pressure;
        // Only the pen's tip presses a button; a hovering pen passes over them.
        touch.btnId = pen.pressure > 0 ? t330ButtonAt(pen.x, pen.y, row.maxX - row.minX + 1, row.maxY - row.minY + 1)
                                       : penreports::kNoButton;
        return {touch};
    }
    case 1: {
        if (report.size() < kPenReportBytes)
            return {};
        const Qz07Report pen(raw);
        touch.x = pen.x;
        touch.y = pen.y;
        touch.pressure = pen.pressure;
        touch.btnId = pen.btnId;
        return {touch};
    }
    case 2:
        return Kz07Report(report).samples;
    default:
        return {};
    }
}

} // namespace penreports
