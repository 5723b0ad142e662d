#include "app/portnotice.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMessageBox>

void showPortInUseNotice(quint16 port, const QString &holder)
{
    if (QGuiApplication::platformName() == QLatin1String("offscreen"))
        return;
    QString text = QString::fromUtf8("    错误信息： 端口 %1 已被其他程序占用，端口空闲后将自动开始服务    ").arg(port);
    if (!holder.isEmpty())
        text += QString::fromUtf8("\n    占用者： %1    ").arg(holder);
    auto *box = new QMessageBox(QMessageBox::NoIcon, QString::fromUtf8("错误"), text);
    box->setWindowFlags(Qt::WindowStaysOnTopHint | Qt::MSWindowsFixedSizeDialogHint);
    box->setAttribute(Qt::WA_DeleteOnClose);
    QApplication::setQuitOnLastWindowClosed(false);
    box->show();
}
