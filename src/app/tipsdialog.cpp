#include "app/tipsdialog.h"

#include "ui_tipsdialog.h"

#include <QTimer>

namespace {
const int kAutoCloseMs = 2000;
}

TipsDialog::TipsDialog(TipsType type, const QString &text, QWidget *parent)
    : QDialog(parent), ui(new Ui::TipsDialog), tipsType(type)
{
    setAttribute(Qt::WA_DeleteOnClose);
    ui->setupUi(this);
    setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    setAttribute(Qt::WA_StyleSheetTarget);
    initFrame(text);

    timer = new QTimer(this);
    timer->setSingleShot(true);
    connect(timer, &QTimer::timeout, this, &QWidget::close);
}

TipsDialog::~TipsDialog()
{
    timer->deleteLater();
    delete ui;
}

void TipsDialog::startTimer()
{
    autoClose = true;
    if (isVisible())
        timer->start(kAutoCloseMs);
}

void TipsDialog::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (autoClose && !timer->isActive())
        timer->start(kAutoCloseMs);
}

void TipsDialog::initFrame(const QString &text)
{
    ui->tiplabel->setText(text);
}
