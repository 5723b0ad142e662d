#include "app/singleinstance.h"

#include <QDir>

#include <fcntl.h>
#include <unistd.h>

int lock_set(int type)
{
    const QByteArray path = (QDir::tempPath() + "/ZQSIGNExeName.pid").toLatin1();
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
