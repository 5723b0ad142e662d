// The udev rule and the AppStream metainfo that the package installs list
// every model of the driver's device table, so neither can drift from it.
#include "pad/devicetable.h"
#include "support/testenv.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTest>
#include <QXmlStreamReader>

namespace {
QString readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

QString hex4(uint16_t id, bool upper)
{
    const QString text = QStringLiteral("%1").arg(id, 4, 16, QLatin1Char('0'));
    return upper ? text.toUpper() : text;
}

// The rule lines (comments and blank lines left out).
QStringList ruleLines(const QString &text)
{
    QStringList lines;
    for (const QString &line : text.split('\n')) {
        const QString trimmed = line.trimmed();
        if (!trimmed.isEmpty() && !trimmed.startsWith('#'))
            lines << trimmed;
    }
    return lines;
}
}

class TestPackagedModels : public QObject
{
    Q_OBJECT

private:
    QString rulesPath()
    {
        const QStringList rules = QDir(sourcePath("packaging")).entryList({"*.rules"}, QDir::Files);
        return rules.size() == 1 ? sourcePath("packaging/" + rules.first()) : QString();
    }

private slots:
    void theRuleFileIsActedOnBeforeUaccessIsApplied()
    {
        const QString name = QFileInfo(rulesPath()).fileName();
        QVERIFY2(QRegularExpression("^[0-9]{2}-[a-z0-9-]+\\.rules$").match(name).hasMatch(), qPrintable(name));
        // udev reads rule files in the order of their names; uaccess is applied in 73-seat-late.rules.
        QVERIFY2(name < QStringLiteral("73-seat-late.rules"), qPrintable(name));
    }

    void everyModelHasAUsbAndAHidrawLineWithUaccess()
    {
        const QStringList lines = ruleLines(readAll(rulesPath()));
        QVERIFY(!lines.isEmpty());
        for (const QString &line : lines) {
            QVERIFY2(line.endsWith(QStringLiteral("TAG+=\"uaccess\"")), qPrintable(line));
            QVERIFY2(!line.contains("MODE="), qPrintable(line));
            QVERIFY2(!line.contains(QRegularExpression("ATTRS\\{id(Vendor|Product)\\}==\"[^\"]*[A-F]")),
                     qPrintable(line));
        }
        for (const tagDEVICE_INFO &row : muti_dev.devInfo) {
            const QString ids = QStringLiteral("ATTRS{idVendor}==\"%1\", ATTRS{idProduct}==\"%2\"")
                                    .arg(hex4(row.vid, false), hex4(row.pid, false));
            QVERIFY2(lines.contains("SUBSYSTEM==\"usb\", " + ids + ", TAG+=\"uaccess\""), qPrintable(row.model));
            QVERIFY2(lines.contains("KERNEL==\"hidraw*\", " + ids + ", TAG+=\"uaccess\""), qPrintable(row.model));
        }
        QCOMPARE(lines.size(), 2 * MUTI_DEV::kRows);
    }

    void theMetainfoProvidesAModaliasPerModel()
    {
        QXmlStreamReader xml(readAll(sourcePath("packaging/org.zqsign.ZQSignDriver.metainfo.xml")));
        QStringList modaliases;
        while (!xml.atEnd()) {
            if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == QLatin1String("modalias"))
                modaliases << xml.readElementText();
        }
        QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
        QStringList expected;
        for (const tagDEVICE_INFO &row : muti_dev.devInfo)
            expected << QStringLiteral("usb:v%1p%2d*").arg(hex4(row.vid, true), hex4(row.pid, true));
        modaliases.sort();
        expected.sort();
        QCOMPARE(modaliases, expected);
    }
};

QTEST_GUILESS_MAIN(TestPackagedModels)
#include "tst_packagedmodels.moc"
