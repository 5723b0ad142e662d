#pragma once

// Shared by the signing-window tests in X sessions: the window's background
// is painted in a colour no X server shows by itself, so a screenshot tells
// exactly which part of the display the window covers.

#include <QApplication>
#include <QColor>
#include <QImage>
#include <QPalette>
#include <QRect>

inline const QColor kWindowColour(255, 0, 255);

inline void paintWindowsInTestColour()
{
    QPalette palette = QApplication::palette();
    palette.setColor(QPalette::Window, kWindowColour);
    QApplication::setPalette(palette);
}

inline bool isWindowColour(QRgb pixel)
{
    return qAbs(qRed(pixel) - 255) < 8 && qGreen(pixel) < 8 && qAbs(qBlue(pixel) - 255) < 8;
}

// The smallest rectangle holding every pixel of the window colour.
inline QRect windowColourBounds(const QImage &screenshot)
{
    // A screenshot of few colours comes as a palette image.
    const QImage shot = screenshot.convertToFormat(QImage::Format_RGB32);
    QRect bounds;
    for (int y = 0; y < shot.height(); ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(shot.constScanLine(y));
        for (int x = 0; x < shot.width(); ++x) {
            if (isWindowColour(line[x]))
                bounds |= QRect(x, y, 1, 1);
        }
    }
    return bounds;
}
