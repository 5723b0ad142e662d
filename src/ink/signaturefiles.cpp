#include "ink/signaturefiles.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace signaturefiles {

namespace {
QString failure(const QString &fileName, const char *what, int error)
{
    return QStringLiteral("%1: %2: %3").arg(fileName, QLatin1String(what), QString::fromLocal8Bit(std::strerror(error)));
}

bool writeAll(int fd, const QByteArray &bytes)
{
    const char *data = bytes.constData();
    qint64 left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, size_t(left));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        left -= written;
    }
    return true;
}

// A temporary file holding `bytes`, flushed to disk, beside `fileName`.
class Temporary
{
public:
    Temporary(const QString &fileName, const QByteArray &bytes) : m_fileName(fileName)
    {
        const QFileInfo target(fileName);
        int fd = -1;
        for (int attempt = 0; fd < 0 && attempt < 16; ++attempt) {
            const QString name = QStringLiteral(".%1.%2.tmp")
                                     .arg(target.fileName())
                                     .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
            m_name = QFile::encodeName(target.path() + '/' + name);
            fd = ::open(m_name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
            if (fd < 0 && errno != EEXIST)
                break;
        }
        if (fd < 0) {
            m_failure = failure(fileName, "cannot create a temporary file", errno);
            m_name.clear();
            return;
        }
        keepModeOfRegularFile(fd);
        if (!writeAll(fd, bytes))
            m_failure = failure(fileName, "write failed", errno);
        else if (::fsync(fd) != 0)
            m_failure = failure(fileName, "flush to disk failed", errno);
        if (::close(fd) != 0 && m_failure.isEmpty())
            m_failure = failure(fileName, "close failed", errno);
    }
    ~Temporary()
    {
        if (!m_name.isEmpty())
            ::unlink(m_name.constData());
    }
    Temporary(const Temporary &) = delete;
    Temporary &operator=(const Temporary &) = delete;

    QString failureText() const { return m_failure; }

    SaveResult renameOverFinal()
    {
        if (::rename(m_name.constData(), QFile::encodeName(m_fileName).constData()) != 0)
            return {false, failure(m_fileName, "rename failed", errno)};
        m_name.clear();
        return {true, QString()};
    }

private:
    // A file that is replaced keeps its permissions; a symlink's are not taken.
    void keepModeOfRegularFile(int fd) const
    {
        struct stat info = {};
        if (::lstat(QFile::encodeName(m_fileName).constData(), &info) == 0 && S_ISREG(info.st_mode))
            ::fchmod(fd, info.st_mode & 07777);
    }

    QString m_fileName;
    QByteArray m_name; // the temporary's; empty once renamed or never created
    QString m_failure;
};

// A directory at the final name would make its rename fail after the other
// file of the pair was already in place.
QString directoryInTheWay(const QString &fileName)
{
    struct stat info = {};
    if (::lstat(QFile::encodeName(fileName).constData(), &info) == 0 && S_ISDIR(info.st_mode))
        return failure(fileName, "cannot replace a directory", EISDIR);
    return QString();
}

// The renames themselves reach the disk.
void syncDirectory(const QString &fileName)
{
    const int fd = ::open(QFile::encodeName(QFileInfo(fileName).path()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}
} // namespace

SaveResult writeFile(const QString &fileName, const QByteArray &bytes)
{
    if (fileName.isEmpty())
        return {false, QStringLiteral("no file name")};
    const QString inTheWay = directoryInTheWay(fileName);
    if (!inTheWay.isEmpty())
        return {false, inTheWay};
    Temporary file(fileName, bytes);
    if (!file.failureText().isEmpty())
        return {false, file.failureText()};
    const SaveResult result = file.renameOverFinal();
    syncDirectory(fileName);
    return result;
}

SaveResult writePair(const QString &pictureName, const QByteArray &picture, const QString &pathName,
                     const QByteArray &pointPath)
{
    if (pictureName.isEmpty() || pathName.isEmpty())
        return {false, QStringLiteral("no file name")};
    for (const QString &name : {pictureName, pathName}) {
        const QString inTheWay = directoryInTheWay(name);
        if (!inTheWay.isEmpty())
            return {false, inTheWay};
    }
    Temporary pathFile(pathName, pointPath);
    if (!pathFile.failureText().isEmpty())
        return {false, pathFile.failureText()};
    Temporary pictureFile(pictureName, picture);
    if (!pictureFile.failureText().isEmpty())
        return {false, pictureFile.failureText()};
    SaveResult result = pathFile.renameOverFinal();
    if (result.saved) {
        result = pictureFile.renameOverFinal();
        if (!result.saved)
            result.failure += QStringLiteral(" (%1 was already replaced)").arg(QFileInfo(pathName).fileName());
    }
    syncDirectory(pictureName);
    return result;
}

} // namespace signaturefiles
