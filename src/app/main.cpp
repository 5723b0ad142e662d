#include "app/mainwindow.h"
#include "app/singleinstance.h"
#include "app/startup.h"
#include "app/terminationsignals.h"

#include <QApplication>
#include <QDebug>
#include <QSettings>

#include <csignal>
#include <malloc.h>
#include <fcntl.h>

int main(int argc, char **argv)
{
    // A file size limit fails the write (reported like a full disk) instead
    // of ending the driver.
    std::signal(SIGXFSZ, SIG_IGN);
    // Large blocks (a page's message, its copies while parsed) are mapped on
    // their own and unmapped when freed; glibc would otherwise raise this
    // threshold after the first such free and keep later ones in the heap.
    mallopt(M_MMAP_THRESHOLD, 1024 * 1024);
    chooseOffscreenPlatformWithoutDisplay();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("ZQSignDriver"));

    if (lock_set(F_WRLCK) != 0) {
        qDebug() << "已经有实例在运行了!!!!";
        return 0;
    }
    TerminationSignals terminationSignals;

    const QString path = settingsFilePath();
    QSettings settings(path, QSettings::IniFormat);
    if (welcomeTipsWanted(settings, path)) {
        showWelcomeTips();
        markWelcomeTipsShown(path);
    }

    auto *window = new MainWindow(nullptr);
    window->hide();
    const int result = terminationSignals.requested() ? 0 : QApplication::exec();
    delete window;
    return result;
}
