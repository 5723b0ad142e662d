#pragma once

#include <QByteArray>
#include <QImage>

// The live picture sent to the pages, encoded in memory. The canvas holds
// black ink of varying alpha on transparency, so an 8-bit palette with a
// transparency table holds exactly its pixels at a fraction of the RGBA
// size; a picture with more than 256 distinct pixel values (never drawn by
// the canvas) falls back to exact RGBA. Safe to call from any thread.
namespace livepicture {

QByteArray encode(const QImage &picture);
// The PNG of the blank canvas, encoded once.
QByteArray blank();

} // namespace livepicture
