#pragma once

// One driver process on the virtual pad with a page connected to it, for the
// end-to-end tests of a signing.

#include "support/driverprocess.h"
#include "support/padsim.h"
#include "support/wsclient.h"
#include "support/xsession.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <memory>

// How long a test watches for something that must NOT happen (a message
// no page may get, a second result). Each use says what it proves absent.
// What did happen is always waited for by its own event, never by time.
constexpr int kAbsenceWatchMs = 300;

struct ImageMessage
{
    bool drawing = false;
    QImage picture;
};

class SigningSession
{
public:
    // Starts the driver in `x` (offscreen when null) with `model` plugged in
    // ("" for no pad), and connects one page.
    bool start(XSession *x, const QString &model, const QString &padOptions = QString())
    {
        QDir().mkpath(root.path() + "/out");
        pad.reset(new PadSim(root.path() + "/pad.sock"));
        QProcessEnvironment base = QProcessEnvironment::systemEnvironment();
        if (x)
            base = x->environment(base);
        driver.reset(new DriverProcess(root.path(), pad->childEnvironment(base)));
        if (!driver->skipWelcomeNotice() || !driver->start())
            return failed("the driver did not start");
        // A sanitized driver on a busy machine can take seconds to load.
        const QString ready = pad->command("status", 15000);
        if (!ready.startsWith("ok"))
            return failed("the virtual pad is not ready: " + ready);
        if (!model.isEmpty()) {
            const QString plugged = pad->command("plug " + model + padOptions);
            if (!plugged.startsWith("ok"))
                return failed("plugging the pad failed: " + plugged);
        }
        if (!DriverProcess::portAccepts(10000))
            return failed("port 36325 never accepted");
        return page.open() || failed("the page could not connect");
    }

    // Plugs `model` in (with `options` such as " serial S") and waits for
    // the driver's log line that it saw a pad arrive.
    bool plugAndWaitForDriver(const QString &model, const QString &options = QString())
    {
        const QString arrived = QString::fromUtf8("设备插入===");
        const int before = driver->output().count(arrived);
        return pad->plug(model + options)
            && QTest::qWaitFor([&] { return driver->output().count(arrived) > before; }, 10000);
    }

    QString outDir() const { return root.path() + "/out"; }

    // Says why a start failed, with what the driver printed so far.
    bool failed(const QString &why)
    {
        qWarning().noquote() << "SigningSession: start failed:" << why << "\ndriver output:\n"
                             << (driver ? driver->output() : QString());
        return false;
    }

    void request(const QString &bizcode, const QString &data = QString())
    {
        QJsonObject message{{"bizcode", bizcode}};
        if (!data.isNull())
            message.insert("body", QJsonObject{{"data", data}});
        page.sendJson(message);
    }

    // Plays `stroke` ("demo" or a stroke file, with "rate HZ" if wanted) on
    // the virtual pad and waits until all of it is sent and the driver has
    // read every report of it.
    bool playStroke(const QString &stroke)
    {
        if (!pad->command("stroke " + stroke).startsWith("ok"))
            return false;
        return QTest::qWaitFor([this] { return pad->status().contains("stroke idle"); }, 30000)
            && pad->waitUntilAllRead();
    }

    bool playDemoSignature() { return playStroke("demo"); }

    QList<ImageMessage> images() const
    {
        QList<ImageMessage> result;
        for (const QJsonObject &m : page.jsonMessages()) {
            if (m.value("bizcode").toString() != "2006")
                continue;
            const QByteArray png = QByteArray::fromBase64(m.value("body").toObject().value("signbase64").toString().toLatin1());
            result << ImageMessage{m.value("bool").toBool(), QImage::fromData(png, "PNG")};
        }
        return result;
    }

    int drawingImages() const
    {
        int count = 0;
        for (const ImageMessage &m : images())
            count += m.drawing ? 1 : 0;
        return count;
    }

    bool waitForDrawingImages(int n, int timeoutMs = 10000)
    {
        return QTest::qWaitFor([&] { return drawingImages() >= n; }, timeoutMs);
    }

    // Waits for the `n`-th image message with "bool" false.
    bool waitForBlankImages(int n, int timeoutMs = 10000)
    {
        return QTest::qWaitFor(
            [&] {
                int blanks = 0;
                for (const ImageMessage &m : images())
                    blanks += m.drawing ? 0 : 1;
                return blanks >= n;
            },
            timeoutMs);
    }

    QTemporaryDir root;
    std::unique_ptr<PadSim> pad;
    std::unique_ptr<DriverProcess> driver;
    WsClient page;
};

// A stroke file of `samples` pen reports (QZ07 range) that keeps the pen
// down most of the way.
inline QString writeScribble(const QString &dir, int samples)
{
    QFile file(dir + "/scribble.txt");
    file.open(QIODevice::WriteOnly);
    QByteArray text;
    for (int i = 0; i < samples; ++i) {
        const double t = i * 0.01;
        text += QByteArray::number(5100 + int(4200 * std::sin(t * 0.37))) + ' '
                + QByteArray::number(3700 + int(3000 * std::sin(t * 0.23 + 1.0))) + ' '
                + QByteArray::number(i % 300 == 299 ? 0 : 400 + i % 500) + '\n';
    }
    file.write(text);
    return file.fileName();
}

inline int inkPixels(const QImage &image)
{
    int count = 0;
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < argb.height(); ++y)
        for (int x = 0; x < argb.width(); ++x)
            count += qAlpha(argb.pixel(x, y)) > 128 ? 1 : 0;
    return count;
}
