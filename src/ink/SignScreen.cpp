#include "ink/SignScreen.h"

#include "ink/ZqDraw.h"

#include <QDebug>
#include <QGuiApplication>
#include <QImage>
#include <QPaintEvent>
#include <QPainter>
#include <QPen>
#include <QPushButton>
#include <QRect>
#include <QResizeEvent>
#include <QScreen>

#include <algorithm>
#include <cmath>

namespace {
constexpr uint kBlank = 0x00FFFFFF; // transparent: the window's background shows through
// Set while a started signing window exists; only the GUI thread touches it.
bool ScreenisSync = false;
} // namespace

SignScreen::SignScreen(QWidget *parent) : QDialog(parent)
{
    setAttribute(Qt::WA_StaticContents);
    setAttribute(Qt::WA_DeleteOnClose);
}

SignScreen::~SignScreen()
{
    qDebug() << "SignScreen析构====";
    // Only a window that started owns the flag; a failed one leaves another's alone.
    if (screenImage)
        ScreenisSync = false;
    delete btnConfirm;
    delete btnReSign;
    delete btnCancel;
    delete screenImage;
    delete drawArea;
    delete lastPoint;
}

bool SignScreen::isStarted()
{
    return ScreenisSync;
}

int SignScreen::chooseScreen(const QStringList &manufacturers)
{
    int chosen = -1;
    for (int i = 0; i < manufacturers.size(); ++i) {
        if (manufacturers[i].contains("RKX", Qt::CaseInsensitive))
            chosen = i;
    }
    return chosen;
}

int SignScreen::StartSignScreen()
{
    if (ScreenisSync)
        return 0;
    const QList<QScreen *> screens = QGuiApplication::screens();
    QStringList manufacturers;
    for (QScreen *screen : screens) {
        qDebug() << "屏幕info" << screen->name() << "  " << screen->manufacturer() << " "
                 << screen->serialNumber() << "  " << screen->model();
        manufacturers << screen->manufacturer();
    }
    const int index = chooseScreen(manufacturers);
    if (index < 0)
        return -1;

    const QRect geometry = screens[index]->geometry();
    screenWidth = geometry.width();
    screenHeight = geometry.height();
    const int third = screenWidth / 3;
    const int eighth = screenHeight / 8;

    // Labels over the pad's button strip (left third confirm, middle re-sign,
    // right cancel); presses arrive in the pen samples, so they stay disabled.
    const auto makeButton = [this, eighth](const char *text, int left, int right) {
        auto *button = new QPushButton(QString::fromUtf8(text), this);
        button->setGeometry(QRect(QPoint(left, 7 * eighth), QPoint(right, 8 * eighth - 1)));
        button->setEnabled(false);
        return button;
    };
    btnConfirm = makeButton("确认", 1, third);
    btnReSign = makeButton("重签", third + 1, 2 * third);
    btnCancel = makeButton("取消", 2 * third + 1, 3 * third);

    screenImage = new QImage(screenWidth, screenHeight, QImage::Format_ARGB32);
    screenImage->fill(kBlank);
    drawArea = new QRect(QPoint(5, 5), QPoint(screenWidth - 5, screenHeight - 5));

    setWindowFlags(Qt::SubWindow | Qt::BypassWindowManagerHint | Qt::FramelessWindowHint);
    setGeometry(geometry);
    show();
    ScreenisSync = true;
    return 0;
}

void SignScreen::drawPenLine(int x, int y, int xmax, int ymax, int pressure)
{
    penWidth = 2.5;
    if (!screenImage)
        return;
    // Extents of 0 cannot be mapped; such a sample ends the stroke.
    bool touching = false;
    QPoint p;
    if (pressure != 0 && xmax > 0 && ymax > 0) {
        const long long X = static_cast<long long>(x) * screenWidth / xmax;
        const long long Y = static_cast<long long>(y) * screenHeight / ymax;
        touching = X >= drawArea->left() && X <= drawArea->right() && Y >= drawArea->top()
                   && Y <= drawArea->bottom();
        if (touching)
            p = QPoint(int(X), int(Y));
    }
    if (!touching) {
        isPenDown = false;
    } else if (isPenDown) {
        penWidth = std::fma(pressure * 2.5, 0.0009765625, 1.0);
        drawLineTo(p);
    } else {
        if (!lastPoint)
            lastPoint = new QPoint;
        *lastPoint = p;
        isPenDown = true;
    }
}

void SignScreen::drawLineTo(const QPoint &p)
{
    QPainter painter(screenImage);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QBrush(penColor), penWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawLine(*lastPoint, p);
    // Repaint only the touched rectangle, widened by the pen's reach.
    const int rad = static_cast<int>(penWidth * 0.5 + 2.0);
    update(QRect(*lastPoint, p).normalized().adjusted(-rad, -rad, +rad, +rad));
    *lastPoint = p;
}

void SignScreen::clearImage()
{
    if (!screenImage)
        return;
    screenImage->fill(kBlank);
    update();
}

void SignScreen::CloseSignScreen_10in()
{
    close();
}

QImage SignScreen::picture() const
{
    return screenImage ? *screenImage : QImage();
}

void SignScreen::paintEvent(QPaintEvent *event)
{
    if (!screenImage)
        return;
    QPainter painter(this);
    const QRect dirty = event->rect();
    painter.drawImage(dirty, *screenImage, dirty);
}

void SignScreen::resizeEvent(QResizeEvent *event)
{
    if (screenImage && (width() > screenImage->width() || height() > screenImage->height())) {
        resizeImage(screenImage, QSize(std::max(width() + 128, screenImage->width()),
                                       std::max(height() + 128, screenImage->height())));
        update();
    }
    QDialog::resizeEvent(event);
}

// The same growth as the canvas's: content kept at the top-left, the rest transparent.
void SignScreen::resizeImage(QImage *img, const QSize &size)
{
    ZqDraw::resizeImage(img, size);
}
