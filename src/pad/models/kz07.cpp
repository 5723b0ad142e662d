// KZ07: a pad with its own screen that runs the signing itself, driven by
// JSON commands, each framed (utils::PackKz7Comm) in one 1025-byte output report:
//   query      {"func":"GetDeviceInfo"}; answered by an input report of up to
//              256 bytes whose JSON carries "serial" (empty when it has no
//              "serial" string; an answer that is not JSON is status 1003)
//   start      {"func":"SetCmdToDevice", "flag":"1"}
//   sign again {"func":"SetCmdToDevice", "flag":"2"}
//   end        {"func":"SetCmdToDevice", "flag":"3"}; the pad stays open
//
// Input report: 12 header bytes (not examined), then JSON text up to the
// first zero byte, at most 206 bytes. Pen samples:
//   {"info":[{"x":"120","y":"45","pressure":"310","btnId":"-1"}, ...]}
// every field a decimal integer written as a string; anything else reads 0.

#include "pad/models/padmodel.h"

#include "pad/jsonkeys.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

namespace {

constexpr int kHeaderBytes = 12;
constexpr int kMaxTextBytes = 206;

QByteArray jsonText(const QByteArray &report)
{
    return textUpToFirstZero(report.mid(kHeaderBytes, kMaxTextBytes)).toUtf8();
}

// The report's JSON; `ok` is false when the text is not JSON.
QJsonDocument json(const QByteArray &report, bool *ok)
{
    const QByteArray text = jsonText(report);
    if (jsonRepeatsKeys(text)) {
        *ok = false;
        return QJsonDocument();
    }
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(text, &error);
    *ok = error.error == QJsonParseError::NoError;
    return document;
}

// Pen samples the pad had queued ("info", even when cut short) are passed
// over; any other report is the answer.
SerialReply readSerial(const QByteArray &reply)
{
    SerialReply answer;
    bool ok = false;
    const QJsonObject object = json(reply, &ok).object();
    const bool penSamples = ok ? object.contains(QLatin1String("info")) : jsonText(reply).startsWith(R"({"info")");
    if (penSamples) {
        answer.kind = SerialReply::PenReport;
        return answer;
    }
    if (!ok)
        return answer;
    answer.kind = SerialReply::Serial;
    answer.serial = object.value(QLatin1String("serial")).toString();
    return answer;
}

int32_t decimalField(const QJsonObject &sample, const char *key)
{
    bool ok = false;
    const int32_t value = sample.value(QLatin1String(key)).toString().toInt(&ok, 10);
    return ok ? value : 0;
}

QVector<TOUCH_INFO> decode(const QByteArray &report)
{
    bool ok = false;
    const QJsonValue info = json(report, &ok).object().value(QLatin1String("info"));
    if (!ok || !info.isArray())
        return {};
    QVector<TOUCH_INFO> samples;
    for (const QJsonValue &element : info.toArray()) {
        const QJsonObject sample = element.toObject();
        TOUCH_INFO touch;
        touch.x = decimalField(sample, "x");
        touch.y = decimalField(sample, "y");
        touch.pressure = decimalField(sample, "pressure");
        touch.btnId = decimalField(sample, "btnId");
        samples.append(touch);
    }
    return samples;
}

} // namespace

const PadModel &kz07Model()
{
    static const PadModel model = [] {
        PadModel m;
        m.name = "KZ07";
        m.vid = 0x2207;
        m.pid = 0x0019;
        m.maxX = 0x31F;
        m.maxY = 0x1DF;
        m.pressureLevels = 2048;

        m.serialSource = SerialSource::QueryReply;
        m.query = {Transport::FramedJson, R"({"func":"GetDeviceInfo"})", 1025};
        m.replyBytes = 256;
        m.readSerial = readSerial;

        m.start = {Transport::FramedJson, R"({"func":"SetCmdToDevice", "flag":"1"})", 1025};
        m.signAgain = {Transport::FramedJson, R"({"func":"SetCmdToDevice", "flag":"2"})", 1025};
        m.end = {Transport::FramedJson, R"({"func":"SetCmdToDevice", "flag":"3"})", 1025};
        m.afterEnd = AfterEnd::KeepOpen;

        m.decode = decode;
        return m;
    }();
    return model;
}
