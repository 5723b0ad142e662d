#include "web/outputdirectory.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
QString syntaxRefusal(const QString &path)
{
    if (path.isEmpty())
        return QStringLiteral("no directory given");
    if (path.startsWith('~'))
        return QStringLiteral("'~' is not expanded; an absolute path is needed");
    if (!path.startsWith('/'))
        return QStringLiteral("not an absolute path");
    for (const QChar c : path) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            return QStringLiteral("control character in the path");
    }
    if (QFile::decodeName(QFile::encodeName(path)) != path)
        return QStringLiteral("characters the file system cannot spell");
    return QString();
}

QString errnoText()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

// Opens "testfile" for reading and writing, creating it if need be, as the
// directory's probe. A symlink planted at that name is replaced, never
// followed, so its target stays untouched.
QString probeRefusal(const QByteArray &testfile)
{
    const int flags = O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    int fd = ::open(testfile.constData(), flags, 0644);
    if (fd < 0 && errno == ELOOP && ::unlink(testfile.constData()) == 0)
        fd = ::open(testfile.constData(), flags | O_EXCL, 0644);
    if (fd < 0)
        return QStringLiteral("testfile: ") + errnoText();
    ::close(fd);
    return QString();
}
} // namespace

OutputDirectory OutputDirectory::prepare(const QString &requested)
{
    OutputDirectory directory;
    directory.m_refusal = syntaxRefusal(requested);
    if (!directory.isUsable())
        return directory;
    directory.m_path = QDir::cleanPath(requested);
    const QByteArray native = QFile::encodeName(directory.m_path);
    struct stat info = {};
    if (::stat(native.constData(), &info) == 0 && !S_ISDIR(info.st_mode))
        directory.m_refusal = QStringLiteral("exists and is not a directory");
    else if (!QDir().mkpath(directory.m_path))
        directory.m_refusal = QStringLiteral("cannot be created");
    else
        directory.m_refusal = probeRefusal(QFile::encodeName(directory.filePath(QStringLiteral("testfile"))));
    return directory;
}
