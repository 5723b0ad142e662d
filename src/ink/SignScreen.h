#pragma once

#include <QColor>
#include <QDialog>
#include <QImage>
#include <QStringList>

class QPoint;
class QPushButton;
class QRect;

// The full-screen signing window for the T330, whose picture is shown on a
// monitor made for it, recognised by the manufacturer code "RKX". It shows
// the ink live, scaled from the pad's range to the whole monitor, above a
// strip of three label buttons matching the pad's button strip. GUI thread only.
class SignScreen : public QDialog
{
    Q_OBJECT
public:
    explicit SignScreen(QWidget *parent = nullptr);
    ~SignScreen() override;

    // Finds the monitor and shows the window over it: 0 on success or when a
    // signing window is already up, -1 when no monitor is made for it.
    int StartSignScreen();
    void drawPenLine(int x, int y, int xmax, int ymax, int pressure);
    void clearImage();
    void CloseSignScreen_10in();

    // Index of the monitor to use among these manufacturer names: the last
    // one containing "RKX" in any case, or -1.
    static int chooseScreen(const QStringList &manufacturers);
    // True while a started signing window exists.
    static bool isStarted();

    QImage picture() const; // a copy; null until started

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void drawLineTo(const QPoint &p);
    static void resizeImage(QImage *img, const QSize &size);

    QPushButton *btnConfirm = nullptr;
    QPushButton *btnCancel = nullptr;
    QPushButton *btnReSign = nullptr;
    QImage *screenImage = nullptr;
    QRect *drawArea = nullptr;
    bool isPenDown = false;
    QPoint *lastPoint = nullptr;
    QColor penColor = Qt::black;
    double penWidth = 2.5;
    int screenWidth = 0;
    int screenHeight = 0;
};
