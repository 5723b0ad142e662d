// The set writer on its own: a failure of one file's write, which a full
// disk in the end-to-end suite cannot single out, changes none of the set;
// a process killed between the renames leaves a set that recovery completes
// from its commit record, and recovery touches nothing it cannot check.
#include "ink/signaturefiles.h"
#include "support/filesizelimit.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
// How many more renames the process makes before it dies; -1: no limit.
int g_renamesBeforeDeath = -1;
constexpr int kDied = 77;
} // namespace

// The driver's code calls rename() through this definition: a forked child
// dies right before the rename that would exceed its budget, as a process
// killed at that moment would.
extern "C" int rename(const char *from, const char *to) noexcept
{
    if (g_renamesBeforeDeath == 0)
        _exit(kDied);
    if (g_renamesBeforeDeath > 0)
        --g_renamesBeforeDeath;
    return renameat(AT_FDCWD, from, AT_FDCWD, to);
}

namespace {
QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList entries(const QString &dir)
{
    return QDir(dir).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

QVector<signaturefiles::NamedFile> set(const QString &dir, const QByteArray &tag)
{
    return {{dir + "/path.save", "path " + tag},
            {dir + "/save.png", "picture " + tag},
            {dir + "/sign.manifest.json", "manifest " + tag}};
}

QByteArrayList contents(const QString &dir)
{
    QByteArrayList result;
    for (const signaturefiles::NamedFile &file : set(dir, QByteArray()))
        result << readAll(file.fileName);
    return result;
}

QByteArrayList expected(const QByteArray &path, const QByteArray &picture, const QByteArray &manifest)
{
    return {"path " + path, "picture " + picture, "manifest " + manifest};
}

// Writes set "new" over set "old" in a child that dies before rename number
// `renames` + 1 (the commit record's rename is the first).
bool killedWhileWriting(const QString &dir, int renames)
{
    const pid_t child = fork();
    if (child == 0) {
        g_renamesBeforeDeath = renames;
        signaturefiles::writeSet(set(dir, "new"));
        _exit(0);
    }
    int status = 0;
    return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == kDied;
}
} // namespace

class TestSignatureFiles : public QObject
{
    Q_OBJECT

private slots:
    void aFailedPictureWriteKeepsTheEarlierPathFileToo()
    {
        QTemporaryDir dir;
        const QString picture = dir.filePath("save.png");
        const QString path = dir.filePath("path.save");
        QVERIFY(signaturefiles::writePair(picture, "earlier picture", path, "earlier path").saved);

        signaturefiles::SaveResult result;
        {
            FileSizeLimit full(1000);
            result = signaturefiles::writePair(picture, QByteArray(5000, 'p'), path, QByteArray(100, 'r'));
        }
        QVERIFY(!result.saved);
        QVERIFY2(result.failure.contains("save.png"), qPrintable(result.failure));
        QCOMPARE(readAll(picture), QByteArray("earlier picture"));
        QCOMPARE(readAll(path), QByteArray("earlier path"));
        QCOMPARE(entries(dir.path()), QStringList({"path.save", "save.png"}));

        QVERIFY(signaturefiles::writePair(picture, QByteArray(5000, 'p'), path, QByteArray(100, 'r')).saved);
        QCOMPARE(readAll(picture), QByteArray(5000, 'p'));
        QCOMPARE(readAll(path), QByteArray(100, 'r'));
    }

    void killedBeforeTheCommitRecordKeepsTheEarlierSet()
    {
        QTemporaryDir dir;
        QVERIFY(signaturefiles::writeSet(set(dir.path(), "old")).saved);
        QVERIFY(killedWhileWriting(dir.path(), 0));
        QCOMPARE(contents(dir.path()), expected("old", "old", "old"));
        QVERIFY(!QFile::exists(dir.filePath(signaturefiles::kCommitRecord)));
        QCOMPARE(signaturefiles::recoverSet(dir.path()).outcome, signaturefiles::Recovery::NothingToDo);
        QCOMPARE(contents(dir.path()), expected("old", "old", "old"));
    }

    void killedBetweenTheRenamesIsCompletedFromTheRecord_data()
    {
        QTest::addColumn<int>("renames");
        QTest::addColumn<QByteArrayList>("left");
        QTest::newRow("record in place") << 1 << expected("old", "old", "old");
        QTest::newRow("path.save renamed") << 2 << expected("new", "old", "old");
        QTest::newRow("save.png renamed") << 3 << expected("new", "new", "old");
    }

    void killedBetweenTheRenamesIsCompletedFromTheRecord()
    {
        QFETCH(int, renames);
        QFETCH(QByteArrayList, left);
        QTemporaryDir dir;
        QVERIFY(signaturefiles::writeSet(set(dir.path(), "old")).saved);
        QVERIFY(killedWhileWriting(dir.path(), renames));
        QCOMPARE(contents(dir.path()), left);
        QVERIFY(QFile::exists(dir.filePath(signaturefiles::kCommitRecord)));

        const signaturefiles::Recovery recovery = signaturefiles::recoverSet(dir.path());
        QCOMPARE(recovery.outcome, signaturefiles::Recovery::Completed);
        QCOMPARE(contents(dir.path()), expected("new", "new", "new"));
        QCOMPARE(entries(dir.path()), QStringList({"path.save", "save.png", "sign.manifest.json"}));
    }

    // The next save completes the interrupted one first, then writes its own.
    void theNextSaveCompletesAnInterruptedOneFirst()
    {
        QTemporaryDir dir;
        QVERIFY(signaturefiles::writeSet(set(dir.path(), "old")).saved);
        QVERIFY(killedWhileWriting(dir.path(), 2));
        QVERIFY(signaturefiles::writePair(dir.filePath("save.png"), "picture next", dir.filePath("path.save"),
                                          "path next")
                    .saved);
        QCOMPARE(contents(dir.path()), expected("next", "next", "new"));
        QCOMPARE(entries(dir.path()), QStringList({"path.save", "save.png", "sign.manifest.json"}));
    }

    void aTemporaryThatChangedSinceIsLeftAlone()
    {
        QTemporaryDir dir;
        QVERIFY(signaturefiles::writeSet(set(dir.path(), "old")).saved);
        QVERIFY(killedWhileWriting(dir.path(), 2));
        const QStringList temporaries = QDir(dir.path()).entryList({".save.png.*.tmp"}, QDir::Files | QDir::Hidden);
        QCOMPARE(temporaries.size(), 1);
        QFile changed(dir.filePath(temporaries.first()));
        QVERIFY(changed.open(QIODevice::Append) && changed.write("!") == 1);
        changed.close();
        const QStringList before = entries(dir.path());

        const signaturefiles::Recovery recovery = signaturefiles::recoverSet(dir.path());
        QCOMPARE(recovery.outcome, signaturefiles::Recovery::Refused);
        QVERIFY2(recovery.detail.contains("save.png"), qPrintable(recovery.detail));
        QCOMPARE(entries(dir.path()), before);
        QCOMPARE(contents(dir.path()), expected("new", "old", "old"));
    }

    void aRecordNamingFilesElsewhereIsNotActedOn()
    {
        QTemporaryDir dir;
        QVERIFY(QDir().mkpath(dir.filePath("inner")));
        QFile outside(dir.filePath("victim"));
        QVERIFY(outside.open(QIODevice::WriteOnly) && outside.write("x") == 1);
        outside.close();
        const QByteArray hash = QCryptographicHash::hash("x", QCryptographicHash::Sha256).toHex();
        for (const QByteArray &line : {hash + " 1 ../victim save.png", hash + " 1 .save.png.0000000a.tmp ../victim"}) {
            QFile record(dir.filePath("inner/" + QString(signaturefiles::kCommitRecord)));
            QVERIFY(record.open(QIODevice::WriteOnly | QIODevice::Truncate));
            record.write("ZQSign signature set 1\n" + line + "\n");
            record.close();
            QCOMPARE(signaturefiles::recoverSet(dir.filePath("inner")).outcome, signaturefiles::Recovery::Refused);
            QCOMPARE(readAll(dir.filePath("victim")), QByteArray("x"));
            QCOMPARE(entries(dir.filePath("inner")), QStringList({signaturefiles::kCommitRecord}));
        }
    }
};

QTEST_GUILESS_MAIN(TestSignatureFiles)
#include "tst_signaturefiles.moc"
