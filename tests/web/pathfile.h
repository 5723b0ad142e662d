#pragma once

// Reads a point path file the plain way, to check what the driver wrote.

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QRect>
#include <QSize>
#include <QStringList>

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
// every drawn point (margin 15; an edge moves only when a point lies beyond
// it), fitted into 320 x 240 without enlarging.
inline QSize expectedSignatureSize(const QList<PathRecord> &records)
{
    int left = 0, top = 0, right = -1, bottom = -1;
    for (const PathRecord &r : records) {
        if (r.state != 2)
            continue;
        if (left == 0 || left > r.x)
            left = int(r.x - 15);
        if (top == 0 || top > r.y)
            top = int(r.y - 15);
        if (bottom < r.y)
            bottom = int(r.y + 15);
        if (right < r.x)
            right = int(r.x + 15);
    }
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
