#include "app/startup.h"

#include "app/tipsdialog.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QStandardPaths>

#include <cstdio>

namespace {
const char *const kWelcomeTipsKey = "Settings/SHOWWELCOMTIPS";
const char *const kWelcomeText = "手写板驱动将最小化运行, \n 您可以在托盘找到它";
}

void chooseOffscreenPlatformWithoutDisplay()
{
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") || !qEnvironmentVariableIsEmpty("DISPLAY")
        || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    std::fprintf(stderr,
                 "ZQSignDriver: no display found; running on Qt's offscreen platform "
                 "(no tray icon, no windows; the WebSocket service and the pad work as usual).\n");
}

QString settingsFilePath()
{
    return QDir::toNativeSeparators(QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation)
                                    + "/ZQHIDSettings.ini");
}

bool welcomeTipsWanted(QSettings &settings, const QString &path)
{
    if (!QFile::exists(path))
        settings.setValue(kWelcomeTipsKey, true);
    return settings.value(kWelcomeTipsKey, false).toBool();
}

void showWelcomeTips()
{
    auto *tips = new TipsDialog(TipsDialog::Welcome, QString::fromUtf8(kWelcomeText), nullptr);
    tips->setAttribute(Qt::WA_ShowModal);
    tips->startTimer();
    tips->exec(); // deletes itself on close
}

void markWelcomeTipsShown(const QString &path)
{
    QSettings settings(path, QSettings::IniFormat);
    settings.setValue(kWelcomeTipsKey, false);
}
