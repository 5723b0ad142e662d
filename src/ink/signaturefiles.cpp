#include "ink/signaturefiles.h"

#include <QCryptographicHash>
#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace signaturefiles {

namespace {
const char kRecordHeader[] = "ZQSign signature set 1";
// A set is a handful of files; a longer record is not ours.
constexpr int kMaxRecordBytes = 16 * 1024;
constexpr int kMaxSetFiles = 16;
// Larger than any file of a signature; a larger one is not checked.
constexpr qint64 kMaxCheckedFileBytes = 256LL * 1024 * 1024;

// One save or recovery at a time in the whole process.
std::mutex g_commitMutex;

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

QByteArray sha256Hex(const QByteArray &bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
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
            m_baseName = QStringLiteral(".%1.%2.tmp")
                             .arg(target.fileName())
                             .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
            m_name = QFile::encodeName(target.path() + '/' + m_baseName);
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
    QString baseName() const { return m_baseName; }
    // Left on disk: the commit record names it, and a recovery needs it.
    void keep() { m_name.clear(); }

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
    QString m_baseName;
    QByteArray m_name; // the temporary's; empty once renamed, kept or never created
    QString m_failure;
};

// A directory at the final name would make its rename fail after the other
// files of the set were already in place.
QString directoryInTheWay(const QString &fileName)
{
    struct stat info = {};
    if (::lstat(QFile::encodeName(fileName).constData(), &info) == 0 && S_ISDIR(info.st_mode))
        return failure(fileName, "cannot replace a directory", EISDIR);
    return QString();
}

// The renames themselves reach the disk.
void syncDirectory(const QString &directory)
{
    const int fd = ::open(QFile::encodeName(directory).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

SaveResult writeFileLocked(const QString &fileName, const QByteArray &bytes)
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
    syncDirectory(QFileInfo(fileName).path());
    return result;
}

// One line of the commit record.
struct RecordEntry
{
    QByteArray sha256; // lower-case hex
    qint64 size = 0;
    QString temporary; // names inside the directory
    QString finalName;
};

QByteArray recordText(const std::vector<RecordEntry> &entries)
{
    QByteArray text = QByteArray(kRecordHeader) + '\n';
    for (const RecordEntry &entry : entries)
        text += entry.sha256 + ' ' + QByteArray::number(entry.size) + ' ' + QFile::encodeName(entry.temporary) + ' '
            + QFile::encodeName(entry.finalName) + '\n';
    return text;
}

// A final name the driver could have written: a plain name in the directory.
bool isPlainName(const QString &name)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_][A-Za-z0-9_.-]*$"));
    return name.size() <= 64 && plain.match(name).hasMatch();
}

bool isTemporaryOf(const QString &temporary, const QString &finalName)
{
    static const QRegularExpression suffix(QStringLiteral("^\\.[0-9a-f]{8}\\.tmp$"));
    const QString prefix = QLatin1Char('.') + finalName;
    return temporary.startsWith(prefix) && suffix.match(temporary.mid(prefix.size())).hasMatch();
}

// False for a record the driver did not write: every line must be exactly
// what recordText() makes.
bool parseRecord(const QByteArray &text, std::vector<RecordEntry> *entries)
{
    QList<QByteArray> lines = text.split('\n');
    if (lines.size() < 3 || lines.first() != kRecordHeader || !lines.last().isEmpty())
        return false;
    lines.removeFirst();
    lines.removeLast();
    if (lines.size() > kMaxSetFiles)
        return false;
    static const QRegularExpression hash(QStringLiteral("^[0-9a-f]{64}$"));
    for (const QByteArray &line : qAsConst(lines)) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() != 4)
            return false;
        RecordEntry entry;
        bool sizeOk = false;
        entry.sha256 = fields.at(0);
        entry.size = fields.at(1).toLongLong(&sizeOk);
        entry.temporary = QString::fromLatin1(fields.at(2));
        entry.finalName = QString::fromLatin1(fields.at(3));
        if (!hash.match(QString::fromLatin1(entry.sha256)).hasMatch() || !sizeOk || entry.size < 0
            || entry.size > kMaxCheckedFileBytes || !isPlainName(entry.finalName)
            || !isTemporaryOf(entry.temporary, entry.finalName))
            return false;
        entries->push_back(entry);
    }
    return true;
}

// The content of a regular file (never through a symlink), or false.
bool readRegularFile(const QString &path, qint64 maxBytes, QByteArray *bytes)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info = {};
    bool ok = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size <= maxBytes;
    if (ok) {
        bytes->resize(int(info.st_size));
        qint64 done = 0;
        while (ok && done < info.st_size) {
            const ssize_t got = ::read(fd, bytes->data() + done, size_t(info.st_size - done));
            if (got < 0 && errno == EINTR)
                continue;
            ok = got > 0;
            done += got > 0 ? got : 0;
        }
    }
    ::close(fd);
    return ok;
}

bool holds(const QString &path, const RecordEntry &entry)
{
    QByteArray bytes;
    return readRegularFile(path, entry.size, &bytes) && bytes.size() == entry.size && sha256Hex(bytes) == entry.sha256;
}

Recovery recoverLocked(const QString &directory)
{
    const QString recordPath = directory + QLatin1Char('/') + QLatin1String(kCommitRecord);
    QByteArray text;
    if (!readRegularFile(recordPath, kMaxRecordBytes, &text))
        return {};
    std::vector<RecordEntry> entries;
    if (!parseRecord(text, &entries))
        return {Recovery::Refused, recordPath + QStringLiteral(": not a commit record of this driver; left as it is")};

    // Every file first: nothing is renamed unless the whole set can be completed.
    std::vector<bool> pending;
    for (const RecordEntry &entry : entries) {
        const bool temporary = holds(directory + QLatin1Char('/') + entry.temporary, entry);
        if (!temporary && !holds(directory + QLatin1Char('/') + entry.finalName, entry))
            return {Recovery::Refused, QStringLiteral("%1: %2 is neither the saved file nor its temporary; the "
                                                      "interrupted save is left as it is")
                                           .arg(recordPath, entry.finalName)};
        pending.push_back(temporary);
    }
    QStringList completed;
    for (size_t i = 0; i < entries.size(); ++i) {
        if (!pending[i])
            continue;
        const QByteArray from = QFile::encodeName(directory + QLatin1Char('/') + entries[i].temporary);
        const QByteArray to = QFile::encodeName(directory + QLatin1Char('/') + entries[i].finalName);
        if (::rename(from.constData(), to.constData()) != 0)
            return {Recovery::Refused, failure(directory + QLatin1Char('/') + entries[i].finalName,
                                               "rename failed while completing an interrupted save", errno)};
        completed << entries[i].finalName;
    }
    syncDirectory(directory);
    ::unlink(QFile::encodeName(recordPath).constData());
    syncDirectory(directory);
    return {Recovery::Completed, QStringLiteral("%1: completed an interrupted save (%2 put in place)")
                                     .arg(directory, completed.isEmpty() ? QStringLiteral("nothing left")
                                                                         : completed.join(QStringLiteral(", ")))};
}
} // namespace

SaveResult writeFile(const QString &fileName, const QByteArray &bytes)
{
    std::lock_guard<std::mutex> lock(g_commitMutex);
    return writeFileLocked(fileName, bytes);
}

SaveResult writeSet(const QVector<NamedFile> &files)
{
    if (files.isEmpty() || files.size() > kMaxSetFiles)
        return {false, QStringLiteral("no files to save")};
    const QString directory = QFileInfo(files.first().fileName).absolutePath();
    for (const NamedFile &file : files) {
        const QFileInfo info(file.fileName);
        if (file.fileName.isEmpty() || info.absolutePath() != directory || !isPlainName(info.fileName()))
            return {false, QStringLiteral("no file name")};
        const QString inTheWay = directoryInTheWay(file.fileName);
        if (!inTheWay.isEmpty())
            return {false, inTheWay};
    }

    std::lock_guard<std::mutex> lock(g_commitMutex);
    const Recovery recovered = recoverLocked(directory);
    if (recovered.outcome != Recovery::NothingToDo)
        qInfo().noquote() << recovered.detail;

    std::vector<std::unique_ptr<Temporary>> temporaries;
    std::vector<RecordEntry> entries;
    for (const NamedFile &file : files) {
        temporaries.push_back(std::make_unique<Temporary>(file.fileName, file.bytes));
        if (!temporaries.back()->failureText().isEmpty())
            return {false, temporaries.back()->failureText()};
        entries.push_back({sha256Hex(file.bytes), file.bytes.size(), temporaries.back()->baseName(),
                           QFileInfo(file.fileName).fileName()});
    }
    const QString recordPath = directory + QLatin1Char('/') + QLatin1String(kCommitRecord);
    const SaveResult recorded = writeFileLocked(recordPath, recordText(entries));
    if (!recorded.saved)
        return recorded;

    // From here on the set is committed: whatever is not renamed now, the
    // next recovery renames.
    for (size_t i = 0; i < temporaries.size(); ++i) {
        SaveResult result = temporaries[i]->renameOverFinal();
        if (!result.saved) {
            for (const auto &temporary : temporaries)
                temporary->keep();
            syncDirectory(directory);
            result.failure += QStringLiteral(" (the files before it were replaced; the next save in this directory "
                                             "completes the set)");
            return result;
        }
    }
    syncDirectory(directory);
    ::unlink(QFile::encodeName(recordPath).constData());
    syncDirectory(directory);
    return {true, QString()};
}

SaveResult writePair(const QString &pictureName, const QByteArray &picture, const QString &pathName,
                     const QByteArray &pointPath)
{
    if (pictureName.isEmpty() || pathName.isEmpty())
        return {false, QStringLiteral("no file name")};
    return writeSet({{pathName, pointPath}, {pictureName, picture}});
}

Recovery recoverSet(const QString &directory)
{
    std::lock_guard<std::mutex> lock(g_commitMutex);
    return recoverLocked(directory);
}

Recovery tryRecoverSet(const QString &directory)
{
    std::unique_lock<std::mutex> lock(g_commitMutex, std::try_to_lock);
    if (!lock.owns_lock())
        return {};
    return recoverLocked(directory);
}

} // namespace signaturefiles
