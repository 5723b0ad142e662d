#pragma once

// Reads a point path file the plain way, to check what the driver wrote.

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QRect>
#include <QSize>
#include <QStringList>

#include <algorithm>
#include <cmath>

struct PathRecord
{
    int state = 0;
    double x = 0;
    double y = 0;
    int pressure = 0;
};

struct PathFileContent
{
    bool valid = false;
    QByteArray header;
    QList<PathRecord> records;
};

inline PathFileContent readPathFile(const QString &path)
{
    PathFileContent content;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return content;
    const QByteArray bytes = file.readAll();
    if (bytes.size() < 68 || bytes.at(67) != '\n')
        return content;
    content.header = bytes.left(68);
    for (const QByteArray &line : bytes.mid(68).split('\n')) {
        if (line.isEmpty())
            continue;
        const QString text = QString::fromLatin1(QByteArray::fromBase64(line));
        const QStringList fields = text.mid(1, text.size() - 2).split(',');
        if (!text.startsWith('{') || !text.endsWith('}') || fields.size() != 4)
            return content;
        content.records << PathRecord{fields[0].toInt(), fields[1].toDouble(), fields[2].toDouble(), fields[3].toInt()};
    }
    content.valid = true;
    return content;
}

// The size of save.png for these records: the area the canvas grows around
// every segment's end point (margin 15; an edge moves only when a point lies
// beyond it), widened on a side where a segment's ink reaches past it to 15
// beyond the outermost inked point there, fitted into 320 x 240 without
// enlarging.
inline QSize expectedSignatureSize(const QList<PathRecord> &records)
{
    QRect area, inkReach, inkMargin;
    for (int i = 1; i < records.size(); ++i) {
        const PathRecord &end = records[i];
        if (end.state != 2)
            continue;
        const int x = int(end.x), y = int(end.y);
        if (area.isNull())
            area = QRect(QPoint(x - 15, y - 15), QPoint(x + 15, y + 15));
        if (area.left() > x)
            area.setLeft(x - 15);
        if (area.top() > y)
            area.setTop(y - 15);
        if (area.bottom() < y)
            area.setBottom(y + 15);
        if (area.right() < x)
            area.setRight(x + 15);
        // The segment from the record before, drawn as wide as its pressure
        // makes the pen; a pixel more for antialiasing.
        const double width = 1.0 + end.pressure * 1.5 / 1024;
        const int reach = int(std::ceil(width / 2)) + 1;
        const int margin = std::max(15, reach);
        for (const PathRecord &r : {records[i - 1], end}) {
            const QPoint p(int(r.x), int(r.y));
            inkReach |= QRect(p - QPoint(reach, reach), p + QPoint(reach - 1, reach - 1));
            inkMargin |= QRect(p - QPoint(margin, margin), p + QPoint(margin, margin));
        }
    }
    if (!inkReach.isNull()) {
        if (area.left() > inkReach.left())
            area.setLeft(inkMargin.left());
        if (area.top() > inkReach.top())
            area.setTop(inkMargin.top());
        if (area.right() < inkReach.right())
            area.setRight(inkMargin.right());
        if (area.bottom() < inkReach.bottom())
            area.setBottom(inkMargin.bottom());
    }
    const int left = area.left(), top = area.top(), right = area.right(), bottom = area.bottom();
    int w = right - left + 1;
    int h = bottom - top + 1;
    if (double(w) / h > 320.0 / 240.0) {
        if (w > 320) {
            h = h * 320 / w;
            w = 320;
        }
    } else if (h > 240) {
        w = w * 240 / h;
        h = 240;
    }
    return QSize(w, h);
}
