#include "evidence/signjson.h"

#include "evidence/penruns.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace signjson {

namespace {
QString hex4(int id)
{
    return QStringLiteral("%1").arg(id, 4, 16, QLatin1Char('0'));
}

QJsonArray range(qint64 min, qint64 max)
{
    return QJsonArray{double(min), double(max)};
}

// Written by hand: a long signature has tens of thousands of points.
QByteArray runs(const QVector<TOUCH_INFO> &samples, const QVector<penruns::Run> &all, bool penDown, int64_t firstNs)
{
    QByteArray text = "[";
    bool firstRun = true;
    for (const penruns::Run &run : all) {
        if (run.penDown != penDown)
            continue;
        text += firstRun ? "[" : ",[";
        firstRun = false;
        for (int i = run.first; i < run.first + run.count; ++i) {
            const TOUCH_INFO &s = samples.at(i);
            text += (i > run.first ? ",{\"x\":" : "{\"x\":") + QByteArray::number(s.x) + ",\"y\":"
                + QByteArray::number(s.y) + ",\"p\":" + QByteArray::number(s.pressure)
                + ",\"t\":" + penruns::millisecondsSince(firstNs, s.timeNs) + '}';
        }
        text += ']';
    }
    return text + ']';
}
} // namespace

QJsonObject padObject(const tagDEVICE_INFO &pad)
{
    return QJsonObject{{"model", pad.model},
                       {"manufacturer", pad.manufacturer},
                       {"vid", hex4(pad.vid)},
                       {"pid", hex4(pad.pid)},
                       {"serial", pad.serial},
                       {"xRange", range(pad.minX, pad.maxX)},
                       {"yRange", range(pad.minY, pad.maxY)},
                       {"pressureRange", range(0, qint64(pad.pressureLevels) - 1)}};
}

QByteArray encode(const EvidenceCapture &capture, int canvasWidth, int canvasHeight)
{
    const QVector<TOUCH_INFO> &samples = capture.samples;
    const int64_t firstNs = samples.isEmpty() ? 0 : samples.first().timeNs;
    const QVector<penruns::Run> all = penruns::split(samples);
    return "{\"version\":1,\"pad\":" + QJsonDocument(padObject(capture.pad)).toJson(QJsonDocument::Compact)
        + ",\"canvas\":{\"width\":" + QByteArray::number(canvasWidth) + ",\"height\":"
        + QByteArray::number(canvasHeight) + "},\"strokes\":" + runs(samples, all, true, firstNs)
        + ",\"hover\":" + runs(samples, all, false, firstNs) + "}\n";
}

} // namespace signjson
