#include "evidence/inkml.h"

#include "evidence/penruns.h"

#include <QXmlStreamWriter>

namespace inkml {

namespace {
// Text from the pad (its serial) may hold characters XML 1.0 cannot carry.
QString xmlSafe(QString text)
{
    for (QChar &c : text) {
        const ushort u = c.unicode();
        const bool allowed = u == 0x9 || u == 0xA || u == 0xD || (u >= 0x20 && u != 0xFFFE && u != 0xFFFF);
        if (!allowed)
            c = QChar(QChar::ReplacementCharacter);
    }
    return text;
}

void channel(QXmlStreamWriter &xml, const char *name, const char *type, const char *units, qint64 min, qint64 max)
{
    xml.writeEmptyElement(QStringLiteral("channel"));
    xml.writeAttribute(QStringLiteral("name"), QLatin1String(name));
    xml.writeAttribute(QStringLiteral("type"), QLatin1String(type));
    xml.writeAttribute(QStringLiteral("units"), QLatin1String(units));
    xml.writeAttribute(QStringLiteral("min"), QString::number(min));
    xml.writeAttribute(QStringLiteral("max"), QString::number(max));
}

void property(QXmlStreamWriter &xml, const char *name, const QString &value)
{
    xml.writeEmptyElement(QStringLiteral("srcProperty"));
    xml.writeAttribute(QStringLiteral("name"), QLatin1String(name));
    xml.writeAttribute(QStringLiteral("value"), value);
}

QString hex4(int id)
{
    return QStringLiteral("%1").arg(id, 4, 16, QLatin1Char('0'));
}
} // namespace

QByteArray encode(const EvidenceCapture &capture)
{
    const tagDEVICE_INFO &pad = capture.pad;
    const QVector<TOUCH_INFO> &samples = capture.samples;
    const int64_t firstNs = samples.isEmpty() ? capture.startedNs : samples.first().timeNs;
    const qint64 firstUtcMs = capture.startedUtc.toMSecsSinceEpoch() + (firstNs - capture.startedNs) / 1000000;

    QByteArray text;
    QXmlStreamWriter xml(&text);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    xml.writeDefaultNamespace(QLatin1String(kNamespace));
    xml.writeStartElement(QStringLiteral("ink"));
    xml.writeStartElement(QStringLiteral("definitions"));
    xml.writeStartElement(QStringLiteral("context"));
    xml.writeAttribute(QStringLiteral("xml:id"), QStringLiteral("signing"));

    xml.writeStartElement(QStringLiteral("inkSource"));
    xml.writeAttribute(QStringLiteral("xml:id"), QStringLiteral("pad"));
    xml.writeAttribute(QStringLiteral("manufacturer"), xmlSafe(pad.manufacturer));
    xml.writeAttribute(QStringLiteral("model"), xmlSafe(pad.model));
    xml.writeAttribute(QStringLiteral("serialNo"), xmlSafe(pad.serial));
    xml.writeStartElement(QStringLiteral("traceFormat"));
    channel(xml, "X", "integer", "dev", pad.minX, pad.maxX);
    channel(xml, "Y", "integer", "dev", pad.minY, pad.maxY);
    channel(xml, "F", "integer", "dev", 0, qint64(pad.pressureLevels) - 1);
    xml.writeEmptyElement(QStringLiteral("channel"));
    xml.writeAttribute(QStringLiteral("name"), QStringLiteral("T"));
    xml.writeAttribute(QStringLiteral("type"), QStringLiteral("decimal"));
    xml.writeAttribute(QStringLiteral("units"), QStringLiteral("ms"));
    xml.writeAttribute(QStringLiteral("respectTo"), QStringLiteral("#start"));
    xml.writeEndElement(); // traceFormat
    property(xml, "usbVendorId", hex4(pad.vid));
    property(xml, "usbProductId", hex4(pad.pid));
    xml.writeEndElement(); // inkSource

    xml.writeEmptyElement(QStringLiteral("timestamp"));
    xml.writeAttribute(QStringLiteral("xml:id"), QStringLiteral("start"));
    xml.writeAttribute(QStringLiteral("time"), QString::number(firstUtcMs));
    xml.writeEndElement(); // context
    xml.writeEndElement(); // definitions

    for (const penruns::Run &run : penruns::split(samples)) {
        QByteArray points;
        for (int i = run.first; i < run.first + run.count; ++i) {
            const TOUCH_INFO &s = samples.at(i);
            if (i > run.first)
                points += ", ";
            points += QByteArray::number(s.x) + ' ' + QByteArray::number(s.y) + ' ' + QByteArray::number(s.pressure)
                + ' ' + penruns::millisecondsSince(firstNs, s.timeNs);
        }
        xml.writeStartElement(QStringLiteral("trace"));
        xml.writeAttribute(QStringLiteral("contextRef"), QStringLiteral("#signing"));
        if (!run.penDown)
            xml.writeAttribute(QStringLiteral("type"), QStringLiteral("penUp"));
        xml.writeCharacters(QString::fromLatin1(points));
        xml.writeEndElement();
    }
    xml.writeEndElement(); // ink
    xml.writeEndDocument();
    return text;
}

} // namespace inkml
