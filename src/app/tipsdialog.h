#pragma once

#include <QDialog>

namespace Ui {
class TipsDialog;
}
class QTimer;

// A small frameless notice that shows one text and closes itself two seconds
// after startTimer(), counted from when it is on screen: a machine slow to
// show it must not take its time away. It deletes itself when closed.
class TipsDialog : public QDialog
{
    Q_OBJECT
public:
    enum TipsType { Information = 0, Warning = 1, Welcome = 2 };

    TipsDialog(TipsType type, const QString &text, QWidget *parent);
    ~TipsDialog() override;

    void startTimer();
    void initFrame(const QString &text);

protected:
    void showEvent(QShowEvent *event) override;

private:
    Ui::TipsDialog *ui;
    TipsType tipsType;
    QTimer *timer;
    bool autoClose = false;
};
