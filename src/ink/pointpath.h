#pragma once

#include "signing/touchinfof.h"

#include <QByteArray>
#include <QVector>

#include <string>

// The point path file: a 68-byte header (56 filler bytes, the canvas width
// and height as big-endian 16-bit values, 7 zero bytes, a newline), then one
// line per record: the Base64 of "{state,x,y,pressure}" and a newline.
namespace pointpath {

constexpr int kHeaderSize = 68;

// "{2,100.000000,50.000000,512}": x and y with six decimals, always with a
// decimal point whatever the process locale.
QByteArray recordText(const TOUCH_INFO_F &record);

// The whole file for these records; the filler comes from rand().
QByteArray encodeFile(const QVector<TOUCH_INFO_F> &records);

// One point to replay, in canvas coordinates.
struct PathPoint
{
    int x = 0;
    int y = 0;
    int pressure = 0;
    int state = 0; // 1 marks the first point of a stroke
};

struct PathFile
{
    int width = 0;
    int height = 0;
    QVector<PathPoint> points;
    int skippedLines = 0; // lines that could not be read
};

// Reads the bytes of a whole file. False when they are shorter than the
// header; lines that cannot be read are skipped and counted.
bool decodeFile(const std::string &bytes, PathFile *file);

} // namespace pointpath
