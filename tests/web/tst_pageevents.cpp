// The extended messages a page opts into, against the real driver on the
// virtual pad: a subscribed page beside one that never subscribed, results of
// every ending of a signing with its source, error events, status and
// device events.
#include "pathfile.h"
#include "signingsession.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QRegularExpression>

namespace {
const QString kNoDevice = QString::fromUtf8("没有可用设备");
const QString kBusy = QString::fromUtf8("设备正忙");
const QString kDirectoryBox = QString::fromUtf8("    错误信息： 文件无法创建，请检查目录的操作权限   ");

QJsonObject bodyOf(const QJsonObject &m)
{
    return m.value("body").toObject();
}

// The index of the first message from `from` on with `bizcode`, or -1.
int find(const WsClient &page, const QString &bizcode, int from = 0)
{
    const QList<QJsonObject> all = page.jsonMessages();
    for (int i = from; i < all.size(); ++i)
        if (all.at(i).value("bizcode").toString() == bizcode)
            return i;
    return -1;
}

// Waits for the next message with `bizcode` after `*seen` and moves `*seen` past it.
bool next(WsClient &page, const QString &bizcode, QJsonObject *out, int *seen, int timeoutMs = 10000)
{
    int at = -1;
    if (!QTest::qWaitFor([&] { return (at = find(page, bizcode, *seen)) >= 0; }, timeoutMs))
        return false;
    *out = page.jsonMessages().at(at);
    *seen = at + 1;
    return true;
}

QString hex4(int v)
{
    return QString("%1").arg(v, 4, 16, QChar('0'));
}
} // namespace

class TestPageEvents : public QObject
{
    Q_OBJECT

private:
    // A second page on the session's driver that subscribes and takes the
    // status that answers the subscription.
    static bool subscribe(WsClient &page, QJsonObject *status = nullptr)
    {
        if (page.socket.state() != QAbstractSocket::ConnectedState && !page.open())
            return false;
        const int before = page.messages.size();
        page.sendJson(QJsonObject{{"bizcode", "2100"}});
        int seen = before;
        QJsonObject reply;
        if (!next(page, "2101", &reply, &seen))
            return false;
        if (status)
            *status = bodyOf(reply);
        return true;
    }

    static bool startWithInk(SigningSession &s)
    {
        const int blanks = s.images().size() - s.drawingImages();
        s.request("2023");
        if (!s.waitForBlankImages(blanks + 1))
            return false;
        // Inside the drawing area of every model, so a confirm has ink to save.
        for (int i = 0; i < 30; ++i)
            if (!s.pad->ok(QString("pen %1 %2 500").arg(100 + i * 10).arg(100 + i * 5)))
                return false;
        return QTest::qWaitFor([&] { return s.drawingImages() > 0; }, 10000);
    }

private slots:
    void anUnsubscribedPageSeesExactlyTheOldMessagesBesideASubscribedOne()
    {
        SigningSession s;
        QVERIFY(s.start(nullptr, "qz07", " serial QZ0000077"));
        WsClient subscribed;
        QVERIFY(subscribe(subscribed));
        // Asking for the status without subscribing gets nothing.
        s.request("2101");

        s.request("2025", s.outDir());
        s.request("2023");
        QVERIFY(s.waitForBlankImages(1));
        QVERIFY(s.playDemoSignature());
        QVERIFY(QTest::qWaitFor([&] { return s.drawingImages() > 0; }, 10000));
        s.request("2022");
        QJsonObject result;
        int seen = 0;
        QVERIFY(next(subscribed, "2110", &result, &seen, 15000));
        s.request("2040");
        QVERIFY(QTest::qWaitFor([&] { return find(s.page, "2040") >= 0; }, 10000));
        // Broadcast to both pages in one order: with the serial, the
        // subscribed page has everything the other one got before it.
        QVERIFY(QTest::qWaitFor([&] { return find(subscribed, "2040") >= 0; }, 10000));

        // The unsubscribed page: only pictures and the serial, in their fixed shapes.
        const QRegularExpression picture(R"(^\{"bizcode":"2006","body":\{"signbase64":"[A-Za-z0-9+/]*=*"\},"bool":(true|false)\}$)");
        for (const QString &m : s.page.messages) {
            if (m.startsWith(R"({"bizcode":"2040")"))
                QCOMPARE(m, QString(R"({"bizcode":"2040","devicesn":"QZ0000077"})"));
            else
                QVERIFY2(picture.match(m).hasMatch(), qPrintable(m.left(120)));
        }
        // ... and the subscribed page got the very same texts, plus its own.
        QStringList shared;
        for (const QString &m : subscribed.messages)
            if (m.startsWith(R"({"bizcode":"2006")") || m.startsWith(R"({"bizcode":"2040")"))
                shared << m;
        QCOMPARE(shared, s.page.messages);
        QCOMPARE(find(s.page, "2101"), -1);

        const QJsonObject body = bodyOf(result);
        QCOMPARE(body.value("result").toString(), QString("confirmed"));
        QCOMPARE(body.value("source").toString(), QString("page"));
        QCOMPARE(body.value("saved").toBool(), true);
        const QString png = s.outDir() + "/save.png";
        const QString path = s.outDir() + "/path.save";
        QCOMPARE(body.value("picture").toObject().value("path").toString(), png);
        QCOMPARE(body.value("picture").toObject().value("size").toInt(), int(QFileInfo(png).size()));
        QCOMPARE(body.value("pathFile").toObject().value("path").toString(), path);
        QCOMPARE(body.value("pathFile").toObject().value("size").toInt(), int(QFileInfo(path).size()));
        QVERIFY(QFileInfo(png).size() > 0);
        const PathFileContent content = readPathFile(path);
        QVERIFY(content.valid);
        QCOMPARE(body.value("samples").toInt(), content.records.size());
        // The result follows the confirm's blank picture.
        const int resultAt = find(subscribed, "2110");
        QVERIFY(!subscribed.jsonMessages().at(resultAt - 1).value("bool").toBool());
        QCOMPARE(s.driver->terminate(), 0);
    }

    void everyEndingNamesItsSource_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("result");
        QTest::addColumn<QString>("source");
        QTest::newRow("pad confirm") << "button confirm" << "confirmed" << "pad";
        QTest::newRow("page confirm") << "2022" << "confirmed" << "page";
        QTest::newRow("pad cancel") << "button cancel" << "cancelled" << "pad";
        QTest::newRow("page cancel") << "2024" << "cancelled" << "page";
        QTest::newRow("pad re-sign") << "button resign" << "resigned" << "pad";
        QTest::newRow("page re-sign") << "2021" << "resigned" << "page";
    }

    void everyEndingNamesItsSource()
    {
        QFETCH(QString, how);
        QFETCH(QString, result);
        QFETCH(QString, source);
        SigningSession s;
        QVERIFY(s.start(nullptr, "kz07", " serial KZ-1"));
        QVERIFY(subscribe(s.page));
        s.request("2025", s.outDir());
        QVERIFY(startWithInk(s));
        if (how.startsWith("button"))
            QVERIFY(s.pad->ok(how));
        else
            s.request(how);
        QJsonObject event;
        int seen = 0;
        QVERIFY(next(s.page, "2110", &event, &seen, 15000));
        const QJsonObject body = bodyOf(event);
        QCOMPARE(body.value("result").toString(), result);
        QCOMPARE(body.value("source").toString(), source);
        QCOMPARE(QFile::exists(s.outDir() + "/save.png"), result == "confirmed");
        if (result == "confirmed") {
            QCOMPARE(body.value("saved").toBool(), true);
            QCOMPARE(body.value("picture").toObject().value("size").toInt(),
                     int(QFileInfo(s.outDir() + "/save.png").size()));
        } else {
            QVERIFY(!body.contains("saved"));
        }
        QTest::qWait(kAbsenceWatchMs); // no second result follows
        QCOMPARE(find(s.page, "2110", seen), -1); // exactly one result
        QCOMPARE(s.driver->terminate(), 0);
    }

    void errorBoxesArriveAsErrorEvents()
    {
        SigningSession s;
        QVERIFY(s.start(nullptr, QString()));
        QVERIFY(subscribe(s.page));
        int seen = 0;
        QJsonObject e;

        s.request("2023");
        QVERIFY(next(s.page, "2111", &e, &seen));
        QCOMPARE(bodyOf(e).value("code").toInt(), 1001);
        QCOMPARE(bodyOf(e).value("text").toString(), QString::fromUtf8("    提示信息：    ") + kNoDevice + "      ");
        QCOMPARE(bodyOf(e).value("request").toString(), QString("2023"));
        QVERIFY(s.driver->output().contains(bodyOf(e).value("text").toString()));

        s.request("2040");
        QVERIFY(next(s.page, "2111", &e, &seen));
        QCOMPARE(bodyOf(e).value("code").toInt(), 1001);
        QCOMPARE(bodyOf(e).value("text").toString(), QString::fromUtf8("    错误信息：       ") + kNoDevice + QString(14, ' '));
        QCOMPARE(bodyOf(e).value("request").toString(), QString("2040"));

        // A directory under a plain file cannot be made.
        QFile plain(s.outDir() + "/plain");
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.close();
        s.request("2025", s.outDir() + "/plain/sub");
        QVERIFY(next(s.page, "2111", &e, &seen));
        QVERIFY(bodyOf(e).value("code").isNull());
        QCOMPARE(bodyOf(e).value("text").toString(), kDirectoryBox);
        QCOMPARE(bodyOf(e).value("request").toString(), QString("2025"));

        // Busy: a second start while a signing runs.
        QVERIFY(s.pad->plug("qz07"));
        const QString dir = s.outDir() + "/vanishing";
        s.request("2025", dir);
        QVERIFY(startWithInk(s));
        s.request("2023");
        QVERIFY(next(s.page, "2111", &e, &seen));
        QCOMPARE(bodyOf(e).value("code").toInt(), 1006);
        QCOMPARE(bodyOf(e).value("text").toString(), QString::fromUtf8("    提示信息：    ") + kBusy + "      ");

        // A failed save: the directory became a file after it was set.
        QVERIFY(QDir(dir).removeRecursively());
        QFile blocker(dir);
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        s.request("2022");
        QJsonObject result;
        int resultSeen = 0;
        QVERIFY(next(s.page, "2110", &result, &resultSeen, 15000));
        QCOMPARE(bodyOf(result).value("saved").toBool(), false);
        QVERIFY(bodyOf(result).value("picture").isNull());
        QVERIFY(bodyOf(result).value("pathFile").isNull());
        QVERIFY(bodyOf(result).value("samples").toInt() > 0);
        QVERIFY(next(s.page, "2111", &e, &seen));
        QVERIFY(bodyOf(e).value("code").isNull());
        QCOMPARE(bodyOf(e).value("text").toString(), kDirectoryBox);
        QVERIFY(bodyOf(e).value("request").isNull());
        QCOMPARE(s.driver->terminate(), 0);
    }

    void statusTellsThePadAndTheSigning()
    {
        SigningSession s;
        QVERIFY(s.start(nullptr, QString()));
        QJsonObject status;
        QVERIFY(subscribe(s.page, &status));
        QVERIFY(status.value("pad").isNull());
        QCOMPARE(status.value("padError").toObject().value("code").toInt(), 1001);
        QCOMPARE(status.value("padError").toObject().value("text").toString(), kNoDevice);
        QCOMPARE(status.value("signing").toBool(), false);
        QVERIFY(status.value("directory").isNull());
        QVERIFY(!status.value("version").toString().isEmpty());
        QCOMPARE(status.value("listen").toObject().value("loopbackOnly").toBool(), true);
        QCOMPARE(status.value("listen").toObject().value("addresses").toArray(),
                 (QJsonArray{"127.0.0.1", "::1"}));
        QCOMPARE(status.value("allowedOrigins").toArray(), QJsonArray());

        const struct { const char *name, *model; int vid, pid; } models[] = {
            {"t330", "T330", 0x0b57, 0x8534}, {"qz07", "QZ07", 0x28bd, 0x600c}, {"kz07", "KZ07", 0x2207, 0x0019}};
        int seen = s.page.messages.size();
        for (const auto &m : models) {
            const QString serial = QString("SN-%1").arg(m.name);
            QVERIFY(s.pad->plug(QString("%1 serial %2").arg(m.name, serial)));
            QJsonObject event;
            QVERIFY(next(s.page, "2112", &event, &seen));
            QCOMPARE(bodyOf(event), (QJsonObject{{"event", "plugged"}, {"model", m.model},
                                                 {"vid", hex4(m.vid)}, {"pid", hex4(m.pid)}}));
            s.page.sendJson(QJsonObject{{"bizcode", "2101"}});
            QVERIFY(next(s.page, "2101", &event, &seen));
            const QJsonObject pad = bodyOf(event).value("pad").toObject();
            QCOMPARE(pad.value("model").toString(), QString(m.model));
            QCOMPARE(pad.value("serial").toString(), serial);
            QCOMPARE(pad.value("vid").toString(), hex4(m.vid));
            QCOMPARE(pad.value("pid").toString(), hex4(m.pid));
            QVERIFY(s.pad->unplug(m.name));
            QVERIFY(next(s.page, "2112", &event, &seen));
            QCOMPARE(bodyOf(event).value("event").toString(), QString("unplugged"));
            QCOMPARE(bodyOf(event).value("model").toString(), QString(m.model));
            QCOMPARE(bodyOf(event).value("vid").toString(), hex4(m.vid));
        }

        QVERIFY(s.pad->plug("qz07 serial QZ-9"));
        s.request("2025", s.outDir());
        QVERIFY(startWithInk(s));
        s.page.sendJson(QJsonObject{{"bizcode", "2101"}});
        QJsonObject during;
        QVERIFY(next(s.page, "2101", &during, &seen));
        QCOMPARE(bodyOf(during).value("signing").toBool(), true);
        QCOMPARE(bodyOf(during).value("pad").toObject().value("serial").toString(), QString("QZ-9"));
        QCOMPARE(bodyOf(during).value("directory").toString(), s.outDir());
        // Asking did not disturb the signing: no error, and it still confirms.
        s.request("2022");
        QJsonObject result;
        QVERIFY(next(s.page, "2110", &result, &seen, 15000));
        QCOMPARE(bodyOf(result).value("saved").toBool(), true);
        QCOMPARE(find(s.page, "2111"), -1);
        QCOMPARE(s.driver->terminate(), 0);
    }

    // Polled without hot-plug, a pad shows up twice (its USB device and its
    // HID interface): still one event each way.
    void oneDeviceEventPerPadWhenPolled()
    {
        qputenv("PADSIM_HOTPLUG", "off");
        SigningSession s;
        const bool started = s.start(nullptr, QString());
        qunsetenv("PADSIM_HOTPLUG");
        QVERIFY(started);
        QVERIFY(s.pad->status().contains("hotplug off"));
        QVERIFY(subscribe(s.page));
        int seen = s.page.messages.size();
        QJsonObject event;
        QVERIFY(s.pad->plug("kz07"));
        QVERIFY(next(s.page, "2112", &event, &seen));
        QCOMPARE(bodyOf(event).value("event").toString(), QString("plugged"));
        QVERIFY(s.pad->unplug("kz07"));
        QVERIFY(next(s.page, "2112", &event, &seen));
        QCOMPARE(bodyOf(event).value("event").toString(), QString("unplugged"));
        QCOMPARE(bodyOf(event).value("pid").toString(), QString("0019"));
        // The driver's monitor polls twice more and raises no second event
        // for the pad's other entry.
        QVERIFY(s.pad->waitForHostLooks(s.pad->hostLooks()));
        QVERIFY(s.page.roundTrip()); // what it sent meanwhile has arrived
        QCOMPARE(find(s.page, "2112", seen), -1);
        QCOMPARE(s.driver->terminate(), 0);
    }
};

QTEST_GUILESS_MAIN(TestPageEvents)
#include "tst_pageevents.moc"
