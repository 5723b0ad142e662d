#include "app/singleinstance.h"

#include <QDebug>
#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <unistd.h>

namespace {
// The temporary directory; when it takes no files at all (a read-only or
// missing TMPDIR), the user's runtime directory, so the driver still starts.
QString lockDirectory()
{
    const QString temp = QDir::tempPath();
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (::access(QFile::encodeName(temp).constData(), W_OK) == 0 || runtime.isEmpty())
        return temp;
    qWarning().noquote() << "the temporary directory" << temp << "is not writable; the single-instance lock lives in"
                         << runtime;
    return runtime;
}
} // namespace

int lock_set(int type)
{
    const QByteArray path = QFile::encodeName(lockDirectory() + "/ZQSIGNExeName.pid");
    // The descriptor is deliberately never closed: the kernel drops the lock
    // when the process ends, however it ends.
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return 1;

    struct flock lock = {};
    lock.l_type = static_cast<short>(type);
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 0;
    return ::fcntl(fd, F_SETLK, &lock);
}
