#include "app/singleinstance.h"

#include <QDebug>
#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr mode_t kPrivateFolder = 0700;
constexpr mode_t kPrivateFile = 0600;

bool isPrivateFolderOfOurs(const struct stat &info)
{
    return S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() && (info.st_mode & 077) == 0;
}

// $XDG_RUNTIME_DIR, when set to a folder that only this user can enter.
QString usableRuntimeDirectory()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (runtime.isEmpty())
        return QString();
    struct stat info = {};
    if (::stat(QFile::encodeName(runtime).constData(), &info) == 0 && isPrivateFolderOfOurs(info))
        return runtime;
    qWarning().noquote() << "the runtime directory" << runtime
                         << "is not a private folder of this user; the driver keeps its lock elsewhere";
    return QString();
}

// "ZQSignDriver-UID" in the shared temporary directory. Anyone may create
// that name first, so the folder is used only when it really is ours: a
// directory (not a link to one) owned by this user, then closed to others.
QString folderInTemporaryDirectory()
{
    const QString folder = QDir::tempPath() + "/ZQSignDriver-" + QString::number(::geteuid());
    const QByteArray path = QFile::encodeName(folder);
    if (::mkdir(path.constData(), kPrivateFolder) != 0 && errno != EEXIST) {
        qWarning().noquote() << "cannot create" << folder << ":" << std::strerror(errno);
        return QString();
    }
    const int fd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        qWarning().noquote() << "cannot open" << folder << ":" << std::strerror(errno);
        return QString();
    }
    struct stat info = {};
    bool ours = ::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::geteuid();
    if (ours && (info.st_mode & 077) != 0)
        ours = ::fchmod(fd, kPrivateFolder) == 0;
    ::close(fd);
    if (!ours) {
        qWarning().noquote() << folder << "is not a private folder of this user; not using it";
        return QString();
    }
    return folder;
}
} // namespace

QString privateRuntimeDirectory()
{
    const QString runtime = usableRuntimeDirectory();
    return runtime.isEmpty() ? folderInTemporaryDirectory() : runtime;
}

int lock_set(int type)
{
    const QString folder = privateRuntimeDirectory();
    if (folder.isEmpty())
        return 1;
    const QByteArray path = QFile::encodeName(folder + "/ZQSIGNExeName.pid");
    // The descriptor is deliberately never closed: the kernel drops the lock
    // when the process ends, however it ends.
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, kPrivateFile);
    if (fd < 0)
        return 1;
    struct stat info = {};
    if (::fstat(fd, &info) == 0 && (info.st_mode & 077) != 0)
        ::fchmod(fd, kPrivateFile);

    struct flock lock = {};
    lock.l_type = static_cast<short>(type);
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 0;
    return ::fcntl(fd, F_SETLK, &lock);
}
