// Saving under hostile directories and machine faults, against the real
// driver: directories a page must not get, symlinks planted at the driver's
// file names, a stray second confirm, a full disk, SIGTERM and SIGKILL in
// the middle of a confirm, and a temporary directory that takes no files.
// Whatever happens, a saved pair is either the earlier one byte for byte or
// a whole new one, and the next signing succeeds.
#include "web/hostilesession.h"
#include "web/pathfile.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QTest>

#include <cmath>
#include <csignal>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

namespace {
const QString kBox = QString::fromUtf8("    错误信息： 文件无法创建，请检查目录的操作权限   ");

// Scratch file systems (a small tmpfs, a read-only one) need a mount
// namespace of the test's own, entered in main() before any thread starts.
bool g_ownMounts = false;

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
}

QStringList entries(const QString &dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}
} // namespace

class TestSaveFaults : public QObject
{
    Q_OBJECT

private:
    SigningSession s;
    QStringList m_mounts;

    int blanks() const
    {
        int count = 0;
        for (const ImageMessage &m : s.images())
            count += m.drawing ? 0 : 1;
        return count;
    }
    int logged(const QString &text) { return s.driver->output().count(text); }

    // A short signature confirmed from the page or on the pad: the confirm's
    // blank picture must arrive whether or not anything is saved.
    void signShortly(bool onThePad = false)
    {
        const int before = blanks();
        s.request("2023");
        QVERIFY(s.waitForBlankImages(before + 1));
        for (int i = 0; i < 8; ++i)
            QVERIFY(s.pad->ok(QString("pen %1 %2 700").arg(2500 + 400 * i).arg(2500 + 250 * i)));
        QVERIFY(s.pad->ok("pen 5700 4500 0"));
        QVERIFY(s.pad->waitUntilAllRead());
        if (onThePad)
            QVERIFY(s.pad->ok("button confirm"));
        else
            s.request("2022");
        QVERIFY(s.waitForBlankImages(before + 2));
    }

    // A whole, matching pair in `dir`.
    static void expectPair(const QString &dir)
    {
        const PathFileContent path = readPathFile(dir + "/path.save");
        QVERIFY(path.valid && !path.records.isEmpty());
        const QImage picture(dir + "/save.png", "PNG");
        QVERIFY(!picture.isNull() && inkPixels(picture) > 0);
        QCOMPARE(picture.size(), expectedSignatureSize(path.records));
    }

    void setsAndSigns(const QString &dir)
    {
        const int saved = logged("signature saved");
        s.request("2025", dir);
        signShortly();
        QTRY_COMPARE(logged("signature saved"), saved + 1);
        expectPair(dir);
    }

    bool mount(const QString &dir, unsigned long flags, const char *options)
    {
        QDir().mkpath(dir);
        if (::mount("tmpfs", QFile::encodeName(dir).constData(), "tmpfs", flags, options) != 0)
            return false;
        m_mounts << dir;
        return true;
    }

    bool restart(const QString &tmpDir = QString())
    {
        s.driver.reset(new DriverProcess(s.root.path(), s.pad->childEnvironment()));
        if (!tmpDir.isEmpty())
            s.driver->setEnvironmentValue("TMPDIR", tmpDir);
        if (!s.driver->start())
            return s.failed("the driver did not start");
        if (!s.pad->waitReady(15000))
            return s.failed("the virtual pad is not ready");
        if (!s.pad->plug("qz07"))
            return s.failed("plugging the pad failed");
        if (!DriverProcess::portAccepts(15000))
            return s.failed("port 36325 never accepted");
        return s.page.open(36325, 15000) || s.failed("the page could not connect");
    }

    // A flood of samples, a confirm in the middle of it, and `signal` as soon
    // as the driver has taken the confirm (it ended the pad's signing): the
    // confirm's job then still waits behind the flood's pictures.
    void confirmDuringAFloodThen(int signal)
    {
        s.request("2025", s.outDir());
        const int before = blanks();
        s.request("2023");
        QVERIFY(s.waitForBlankImages(before + 1));
        QVERIFY(s.pad->ok("stroke " + writeScribble(s.root.path(), 20000) + " rate max"));
        QVERIFY(s.pad->waitForStrokeSteps(2000));
        s.request("2022");
        QVERIFY(QTest::qWaitFor([&] { return !s.pad->status().join('\n').contains("streaming"); }, 10000));
        QCOMPARE(::kill(pid_t(s.driver->pid()), signal), 0);
        QVERIFY(s.driver->waitForExit(30000));
    }

private slots:
    void initTestCase()
    {
        // The driver's working directory, where relative paths would land.
        QVERIFY(QDir().mkpath(s.root.path() + "/cwd"));
        QVERIFY(QDir::setCurrent(s.root.path() + "/cwd"));
        QVERIFY(s.start(nullptr, "qz07"));
    }

    void cleanupTestCase()
    {
        s.driver.reset();
        QDir::setCurrent(QDir::rootPath());
        for (const QString &dir : m_mounts)
            ::umount2(QFile::encodeName(dir).constData(), MNT_DETACH);
    }

    void refusedDirectoriesCreateNothingAndSaveNothing_data()
    {
        QTest::addColumn<bool>("withData");
        QTest::addColumn<QString>("data");
        QTest::newRow("missing") << false << QString();
        QTest::newRow("empty") << true << QString("");
        QTest::newRow("relative") << true << QString("relative/sig");
        QTest::newRow("home") << true << QString("~/sig");
        QTest::newRow("NUL") << true << s.outDir() + "/cut" + QChar(0) + "short";
        QTest::newRow("newline") << true << s.outDir() + "/two\nlines";
        QTest::newRow("a file") << true << s.root.path() + "/plain-file";
    }

    void refusedDirectoriesCreateNothingAndSaveNothing()
    {
        QFETCH(bool, withData);
        QFETCH(QString, data);
        writeFile(s.root.path() + "/plain-file", "not a directory");
        setsAndSigns(s.outDir());
        const QByteArray picture = readAll(s.outDir() + "/save.png");
        const QByteArray path = readAll(s.outDir() + "/path.save");
        const QStringList cwd = entries(QDir::currentPath());
        const QStringList home = entries(s.driver->homeDir());
        const QStringList out = entries(s.outDir());

        const int boxes = logged(kBox);
        s.request("2025", withData ? data : QString());
        QTRY_COMPARE(logged(kBox), boxes + 1);
        QVERIFY(s.driver->output().contains("directory refused"));
        QCOMPARE(entries(QDir::currentPath()), cwd);
        QCOMPARE(entries(s.driver->homeDir()), home);
        QCOMPARE(entries(s.outDir()), out);
        QCOMPARE(readAll(s.root.path() + "/plain-file"), QByteArray("not a directory"));

        // The earlier directory is forgotten: a signing saves nowhere.
        const int unsaved = logged("confirm without a usable directory");
        signShortly();
        QTRY_COMPARE(logged("confirm without a usable directory"), unsaved + 1);
        QCOMPARE(readAll(s.outDir() + "/save.png"), picture);
        QCOMPARE(readAll(s.outDir() + "/path.save"), path);
        QCOMPARE(entries(QDir::currentPath()), cwd);

        setsAndSigns(s.outDir());
    }

    void symlinksAtTheDriversNamesAreReplacedNotFollowed()
    {
        const QString dir = s.root.path() + "/linked";
        const QString outside = s.root.path() + "/outside";
        QVERIFY(QDir().mkpath(dir) && QDir().mkpath(outside));
        for (const QString name : {"save.png", "path.save", "testfile"}) {
            writeFile(outside + "/" + name, "belongs to someone else: " + name.toLatin1());
            QVERIFY(QFile::link(outside + "/" + name, dir + "/" + name));
        }
        const int boxes = logged(kBox);
        setsAndSigns(dir);
        for (const QString name : {"save.png", "path.save", "testfile"}) {
            QCOMPARE(readAll(outside + "/" + name), "belongs to someone else: " + name.toLatin1());
            QVERIFY2(!QFileInfo(dir + "/" + name).isSymLink(), qPrintable(name));
        }
        QCOMPARE(entries(dir), QStringList({"path.save", "save.png", "testfile"}));
        QCOMPARE(logged(kBox), boxes);
    }

    void aFolderNamedSavePngFailsTheWholeSaveVisibly()
    {
        const QString dir = s.root.path() + "/folder";
        QVERIFY(QDir().mkpath(dir + "/save.png"));
        const int boxes = logged(kBox);
        const int failed = logged("signature not saved");
        s.request("2025", dir);
        signShortly();
        QTRY_COMPARE(logged("signature not saved"), failed + 1);
        QTRY_COMPARE(logged(kBox), boxes + 1);
        QVERIFY(QFileInfo(dir + "/save.png").isDir());
        QCOMPARE(entries(dir), QStringList({"save.png", "testfile"}));

        QVERIFY(QDir(dir + "/save.png").removeRecursively());
        setsAndSigns(dir);
    }

    void aSecondConfirmLeavesTheSavedPairAlone()
    {
        setsAndSigns(s.outDir());
        const QByteArray picture = readAll(s.outDir() + "/save.png");
        const QByteArray path = readAll(s.outDir() + "/path.save");
        const auto unchanged = [&] {
            return readAll(s.outDir() + "/save.png") == picture && readAll(s.outDir() + "/path.save") == path;
        };

        // From the page, with no signing running.
        int before = blanks();
        s.request("2022");
        QVERIFY(s.waitForBlankImages(before + 1));
        QVERIFY(inkPixels(s.images().last().picture) == 0);
        QVERIFY(unchanged());

        // From the pad's button, in a signing with no ink yet.
        before = blanks();
        s.request("2023");
        QVERIFY(s.waitForBlankImages(before + 1));
        QVERIFY(s.pad->ok("button confirm"));
        QVERIFY(s.waitForBlankImages(before + 2));
        QVERIFY(unchanged());

        // The pad's confirm, then the page's right behind it.
        signShortly(true);
        QTRY_VERIFY(!unchanged());
        expectPair(s.outDir());
        const QByteArray picture2 = readAll(s.outDir() + "/save.png");
        const QByteArray path2 = readAll(s.outDir() + "/path.save");
        before = blanks();
        const int keptAsItIs = logged("confirm without new ink");
        s.request("2022");
        QVERIFY(s.waitForBlankImages(before + 1));
        QTRY_COMPARE(logged("confirm without new ink"), keptAsItIs + 1);
        QCOMPARE(readAll(s.outDir() + "/save.png"), picture2);
        QCOMPARE(readAll(s.outDir() + "/path.save"), path2);
    }

    // A small tmpfs filled up where the machine lets the test mount one,
    // else the driver's file size limit: the earlier pair stays whole.
    void aFullDiskKeepsTheEarlierPairAndSaysSo()
    {
        const QString dir = s.root.path() + "/full";
        const bool tmpfs = g_ownMounts && mount(dir, 0, "size=256k");
        QVERIFY(QDir().mkpath(dir));
        setsAndSigns(dir);
        const QByteArray picture = readAll(dir + "/save.png");
        const QByteArray path = readAll(dir + "/path.save");
        const QString pid = QString::number(s.driver->pid());
        if (tmpfs) {
            QFile filler(dir + "/filler");
            QVERIFY(filler.open(QIODevice::WriteOnly));
            while (filler.write(QByteArray(4096, 'x')) == 4096 && filler.flush()) {
            }
        } else {
            QCOMPARE(QProcess::execute("prlimit", {"--pid", pid, "--fsize=64:unlimited"}), 0);
        }
        const int boxes = logged(kBox);
        const int failed = logged("signature not saved");
        signShortly();
        QTRY_COMPARE(logged("signature not saved"), failed + 1);
        QTRY_COMPARE(logged(kBox), boxes + 1);
        QCOMPARE(readAll(dir + "/save.png"), picture);
        QCOMPARE(readAll(dir + "/path.save"), path);
        QStringList expected{"path.save", "save.png", "testfile"};
        if (tmpfs)
            expected.prepend("filler");
        QCOMPARE(entries(dir), expected);

        if (tmpfs)
            QVERIFY(QFile::remove(dir + "/filler"));
        else
            QCOMPARE(QProcess::execute("prlimit", {"--pid", pid, "--fsize=unlimited"}), 0);
        setsAndSigns(dir);
    }

    // The confirm taken before the signal is written out before the driver quits.
    void sigtermDuringAConfirmFinishesIt()
    {
        const int saved = logged("signature saved");
        confirmDuringAFloodThen(SIGTERM);
        QCOMPARE(s.driver->exitCode(), 0);
        QCOMPARE(logged("signature saved"), saved + 1);
        expectPair(s.outDir());
        QCOMPARE(entries(s.outDir()), QStringList({"path.save", "save.png", "testfile"}));
    }

    // Killed at once: every file under a final name is whole; what a killed
    // save leaves behind are temporaries, which the next start and the next
    // save ignore. The lock and the settings do not outlive the process.
    void sigkillDuringAConfirmThenTheNextStartSigns()
    {
        QVERIFY(restart());
        const QByteArray settings = readAll(s.driver->settingsFile());
        confirmDuringAFloodThen(SIGKILL);
        QVERIFY(readPathFile(s.outDir() + "/path.save").valid);
        QVERIFY(!QImage(s.outDir() + "/save.png", "PNG").isNull());
        writeFile(s.outDir() + "/.save.png.0badf00d.tmp", "half a picture");
        writeFile(s.outDir() + "/.path.save.0badf00d.tmp", "half a path");

        QVERIFY(restart());
        QVERIFY(signsNormally(s));
        expectPair(s.outDir());
        QCOMPARE(readAll(s.driver->settingsFile()), settings);
        QVERIFY(!s.driver->output().contains(QString::fromUtf8("已经有实例在运行了")));
    }

    // What a kill between the renames of a save leaves (path.save of the
    // new pair in place, its save.png still a temporary, the commit record
    // naming both) is completed as soon as the next driver is given the
    // directory, so the pair on disk belongs together again.
    void aSaveKilledBetweenItsRenamesIsCompletedWhenItsDirectoryIsSet()
    {
        const QString dir = s.root.path() + "/interrupted";
        QVERIFY(QDir().mkpath(dir));
        setsAndSigns(dir);
        const QByteArray picture = readAll(dir + "/save.png");
        const QByteArray path = readAll(dir + "/path.save");
        // A second signature of other ink now saved over it.
        const int blanksBefore = blanks();
        s.request("2023");
        QVERIFY(s.waitForBlankImages(blanksBefore + 1));
        for (int i = 0; i < 8; ++i)
            QVERIFY(s.pad->ok(QString("pen %1 %2 900").arg(2000 + 300 * i).arg(4500 - 200 * i)));
        QVERIFY(s.pad->ok("pen 4400 2900 0"));
        s.request("2022");
        QVERIFY(s.waitForBlankImages(blanksBefore + 2));
        QTRY_VERIFY(readAll(dir + "/save.png") != picture);
        QVERIFY(readAll(dir + "/path.save") != path);
        const auto line = [](const QByteArray &bytes, const char *temporary, const char *name) {
            return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex() + ' '
                + QByteArray::number(bytes.size()) + ' ' + temporary + ' ' + name + '\n';
        };
        writeFile(dir + "/.save.png.0000abcd.tmp", picture);
        writeFile(dir + "/path.save", path);
        writeFile(dir + "/.signature.commit", "ZQSign signature set 1\n"
                                                  + line(path, ".path.save.0000abcc.tmp", "path.save")
                                                  + line(picture, ".save.png.0000abcd.tmp", "save.png"));

        QVERIFY(restart());
        s.request("2025", dir);
        QVERIFY(s.driver->waitForOutput("completed an interrupted save", 10000));
        QCOMPARE(readAll(dir + "/save.png"), picture);
        QCOMPARE(readAll(dir + "/path.save"), path);
        QCOMPARE(entries(dir), QStringList({"path.save", "save.png", "testfile"}));
    }

    void anUnwritableTemporaryDirectoryStillSigns()
    {
        const QString readOnly = s.root.path() + "/readonly-tmp";
        QVERIFY(QDir().mkpath(readOnly));
        if (!(g_ownMounts && mount(readOnly, MS_RDONLY, "size=64k"))) {
            if (::geteuid() == 0)
                QSKIP("root writes anywhere without a read-only mount");
            QVERIFY(QFile::setPermissions(readOnly, QFile::ReadOwner | QFile::ExeOwner));
        }
        QCOMPARE(s.driver->terminate(), 0);
        QVERIFY(restart(readOnly));
        QVERIFY(QFile::exists(s.driver->runtimeDir() + "/ZQSIGNExeName.pid"));
        QVERIFY(signsNormally(s));

        // The lock still keeps a second instance out.
        DriverProcess second(s.root.path(), s.pad->childEnvironment());
        second.setEnvironmentValue("TMPDIR", readOnly);
        second.setEnvironmentValue("PADSIM_SOCKET", s.root.path() + "/second-pad.sock");
        QVERIFY(second.start());
        QVERIFY(second.waitForExit(10000));
        QCOMPARE(second.exitCode(), 0);
        QVERIFY(second.output().contains(QString::fromUtf8("已经有实例在运行了")));
        QCOMPARE(s.driver->terminate(), 0);
    }
};

int main(int argc, char **argv)
{
    g_ownMounts = ::unshare(CLONE_NEWNS) == 0 && ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    QApplication app(argc, argv);
    TestSaveFaults test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_savefaults.moc"
