// The pair writer on its own: a failure of the second file's write, which a
// full disk in the end-to-end suite cannot single out, changes neither file.
#include "ink/signaturefiles.h"
#include "support/filesizelimit.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {
QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
}

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
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList({"path.save", "save.png"}));

        QVERIFY(signaturefiles::writePair(picture, QByteArray(5000, 'p'), path, QByteArray(100, 'r')).saved);
        QCOMPARE(readAll(picture), QByteArray(5000, 'p'));
        QCOMPARE(readAll(path), QByteArray(100, 'r'));
    }
};

QTEST_GUILESS_MAIN(TestSignatureFiles)
#include "tst_signaturefiles.moc"
