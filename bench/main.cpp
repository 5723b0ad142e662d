// The driver's benchmark: the real binary on the virtual pad, a reading page
// on loopback, and one table of figures. Run through `make bench`.
#include "eventwait.h"
#include "pagerecorder.h"
#include "processprobe.h"

#include "evidence/evidencefiles.h"
#include "evidence/evidencerecorder.h"
#include "ink/pointpath.h"
#include "pad/sampleclock.h"
#include "support/driverprocess.h"
#include "support/padsim.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QBuffer>
#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <numeric>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <optional>

namespace {

QElapsedTimer benchClock;

// benchClock's zero on the machine's monotonic clock.
qint64 benchClockOrigin()
{
    const qint64 now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                           std::chrono::steady_clock::now().time_since_epoch()).count();
    return now - benchClock.nsecsElapsed();
}

struct Row
{
    QString what;
    QString figure;
};
QVector<Row> table;

void addRow(const QString &what, const QString &figure)
{
    table.append({what, figure});
    std::printf("  %s: %s\n", qPrintable(what), qPrintable(figure));
    std::fflush(stdout);
}

// One driver with the virtual pad's QZ07 plugged in.
struct Driver
{
    QTemporaryDir root;
    std::unique_ptr<PadSim> pad;
    std::unique_ptr<DriverProcess> process;
    double startupMs = 0;

    bool start()
    {
        pad.reset(new PadSim(root.path() + "/pad.sock"));
        process.reset(new DriverProcess(root.path(), pad->childEnvironment()));
        if (!process->skipWelcomeNotice())
            return false;
        QElapsedTimer started;
        started.start();
        if (!process->start())
            return false;
        for (;;) {
            QTcpSocket probe;
            probe.connectToHost(QStringLiteral("127.0.0.1"), 36325);
            if (probe.waitForConnected(100))
                break;
            if (started.elapsed() > 10000)
                return false;
            QThread::usleep(300);
        }
        startupMs = started.nsecsElapsed() / 1e6;
        return pad->waitReady() && pad->plug("qz07");
    }
    ~Driver()
    {
        if (process)
            process->terminate();
    }
};

double percentile(QVector<double> values, double p)
{
    if (values.isEmpty())
        return NAN;
    std::sort(values.begin(), values.end());
    const int index = std::min(int(values.size()) - 1, int(std::ceil(p / 100.0 * values.size())) - 1);
    return values.at(std::max(index, 0));
}

// A scribble over the pad, the pen lifted every 300 samples.
QString writeStroke(const QString &dir, int samples)
{
    const QString name = dir + "/stroke.txt";
    QFile file(name);
    file.open(QIODevice::WriteOnly);
    QByteArray text;
    for (int i = 0; i < samples; ++i) {
        const double t = i * 0.01;
        const int x = 5100 + int(4200 * std::sin(t * 0.37) * std::cos(t * 0.051));
        const int y = 3700 + int(3000 * std::sin(t * 0.23 + 1.0));
        const int pressure = i % 300 == 299 ? 0 : 300 + (i * 7) % 600;
        text += QByteArray::number(x) + ' ' + QByteArray::number(y) + ' ' + QByteArray::number(pressure) + '\n';
    }
    file.write(text);
    return name;
}

bool waitQuiet(const PageRecorder &page, int quietMs, int timeoutMs)
{
    QElapsedTimer waited;
    waited.start();
    int last = -1;
    QElapsedTimer quiet;
    quiet.start();
    while (waited.elapsed() < timeoutMs) {
        eventwait::forMs(50);
        if (page.pictures.size() != last) {
            last = page.pictures.size();
            quiet.restart();
        } else if (quiet.elapsed() >= quietMs) {
            return true;
        }
    }
    return false;
}

int pathRecords(const QString &name)
{
    QFile file(name);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    return std::max(0, int(file.readAll().count('\n')) - 1); // the header line
}

QByteArray lastLivePicture;

QString milliseconds(double ms)
{
    return QStringLiteral("%1 ms").arg(ms, 0, 'f', ms < 10 ? 2 : 1);
}

// The driver's CPU time from one picture's arrival to the next: everything
// one picture costs, its ten samples' reading and drawing included.
QVector<double> cpuPerPictureMs(const PageRecorder &page)
{
    QVector<double> costs;
    qint64 previous = -1;
    for (const PageRecorder::Picture &p : page.pictures) {
        if (!p.drawing || p.driverCpuNs < 0)
            continue;
        if (previous >= 0)
            costs.append((p.driverCpuNs - previous) / 1e6);
        previous = p.driverCpuNs;
    }
    return costs;
}

// Each thread's share of one core over `ns`, largest first; the virtual
// pad's threads (padsim-*) are the pad's own work, not the driver's.
QString cpuByThread(const QHash<QString, qint64> &before, const QHash<QString, qint64> &after, qint64 ns)
{
    QVector<QPair<double, QString>> shares;
    for (auto it = after.cbegin(); it != after.cend(); ++it) {
        const double share = (it.value() - before.value(it.key())) / double(ns) * 100.0;
        if (share >= 0.05)
            shares.append({share, it.key()});
    }
    std::sort(shares.begin(), shares.end(), [](const auto &a, const auto &b) { return a.first > b.first; });
    QStringList parts;
    for (const auto &share : shares)
        parts.append(QStringLiteral("%1 %2").arg(share.second).arg(share.first, 0, 'f', 1));
    return parts.join(QStringLiteral(", "));
}

// `rate` 0: as fast as the pad takes them. With `penData` the page asks
// for every pen data file ("2102") before the signing starts.
void streaming(int rate, int samples, bool penData = false)
{
    const QString label = (rate > 0 ? QStringLiteral("%1 samples/s").arg(rate) : QStringLiteral("max rate"))
                          + (penData ? QStringLiteral(" with pen data") : QString());
    Driver driver;
    if (!driver.start()) {
        addRow(label, "driver did not start");
        return;
    }
    ProcessProbe probe(driver.process->pid());
    PageRecorder page(benchClock), second(benchClock);
    page.driverCpuNs = [&probe] { return probe.ownCpuNs(); };
    const QString out = driver.root.path() + "/out";
    QDir().mkpath(out);
    if (!page.open() || !second.open()) {
        addRow(label, "page could not connect");
        return;
    }
    page.send(QStringLiteral("{\"bizcode\":\"2025\",\"body\":{\"data\":\"%1\"}}").arg(out));
    if (penData) {
        page.send(QStringLiteral("{\"bizcode\":\"2100\"}"));
        page.send(QStringLiteral("{\"bizcode\":\"2102\",\"body\":{\"formats\":[\"inkml\",\"json\",\"svg\"]}}"));
    }
    page.send(QStringLiteral("{\"bizcode\":\"2023\"}"));
    if (!eventwait::until([&] { return page.blankPictures() == 1; }, 10000)) {
        addRow(label, "signing did not start");
        return;
    }
    const QString stroke = writeStroke(driver.root.path(), samples);
    const qint64 cpuBefore = probe.cpuNs();
    const qint64 ownCpuBefore = probe.ownCpuNs();
    const QHash<QString, qint64> threadsBefore = probe.cpuNsByThread();
    const QString answer =
        driver.pad->command(QStringLiteral("stroke %1 rate %2").arg(stroke, rate > 0 ? QString::number(rate) : "max"));
    // Time zero is when the pad's player had its first sample due, which it
    // tells on the monotonic clock that benchClock also runs on.
    bool told = false;
    const qint64 t0 = answer.section(QStringLiteral(" from "), 1).toLongLong(&told) - benchClockOrigin();
    if (!told) {
        addRow(label, "the pad did not play the stroke: " + answer);
        return;
    }
    if (rate > 0)
        eventwait::forMs(samples * 1000 / rate);
    if (!eventwait::until([&] { return driver.pad->status().join('\n').contains("stroke idle"); }, 120000))
        std::printf("  (the stroke did not end within 120 s)\n");
    const qint64 t1 = benchClock.nsecsElapsed();
    const double cpu = (probe.cpuNs() - cpuBefore) / double(t1 - t0) * 100.0;
    const double ownCpu = (probe.ownCpuNs() - ownCpuBefore) / double(t1 - t0) * 100.0;
    const QString byThread = cpuByThread(threadsBefore, probe.cpuNsByThread(), t1 - t0);
    waitQuiet(page, 500, 60000);
    page.driverCpuNs = nullptr;

    const int drawing = page.drawingPictures();
    const int expected = (samples + 9) / 10;
    if (!page.pictures.isEmpty())
        lastLivePicture = page.pictures.last().png;
    if (rate > 0) {
        QVector<double> latencyMs;
        if (drawing == expected) {
            int k = 0;
            for (const PageRecorder::Picture &p : page.pictures) {
                if (!p.drawing)
                    continue;
                const qint64 injected = t0 + qint64(10.0 * k * 1e9 / rate);
                latencyMs.append((p.arrivedNs - injected) / 1e6);
                ++k;
            }
        }
        if (!latencyMs.isEmpty())
            addRow(label + ", sample to picture at the page",
                   QStringLiteral("p50 %1 ms, p90 %2 ms, p99 %3 ms, max %4 ms")
                       .arg(percentile(latencyMs, 50), 0, 'f', 2).arg(percentile(latencyMs, 90), 0, 'f', 2)
                       .arg(percentile(latencyMs, 99), 0, 'f', 2).arg(percentile(latencyMs, 100), 0, 'f', 2));
        else
            addRow(label + ", sample to picture at the page", "pictures merged: latency not attributable");
        // The last sample that asks for a picture (samples 1, 11, 21, ...);
        // should samples be lost, the one that did is later still.
        const qint64 lastAskingDue = t0 + qint64((samples - 1) / 10 * 10 * 1e9 / rate);
        qint64 lastPicture = -1;
        for (const PageRecorder::Picture &p : page.pictures)
            if (p.drawing)
                lastPicture = p.arrivedNs;
        addRow(label + ", the last picture's sample due to that picture at the page",
               lastPicture < 0 ? QStringLiteral("no picture") : milliseconds((lastPicture - lastAskingDue) / 1e6));
    }
    const qint64 confirmAt = benchClock.nsecsElapsed();
    page.send(QStringLiteral("{\"bizcode\":\"2022\"}"));
    const QString lastFile = out + (penData ? "/sign.manifest.json" : "/path.save");
    if (!eventwait::until([&] { return page.blankPictures() >= 2 && QFile::exists(lastFile); }, 60000))
        std::printf("  (no confirm within 60 s)\n");
    const qint64 blankAt = page.blankPictures() >= 2 ? page.pictures.last().arrivedNs : -1;
    const int recorded = pathRecords(out + "/path.save");
    addRow(label + ", samples injected / recorded in path.save / lost",
           QStringLiteral("%1 / %2 / %3").arg(samples).arg(recorded).arg(samples - recorded));
    addRow(label + ", pictures received (one per 10 samples: " + QString::number(expected) + ")",
           QString::number(drawing));
    const QString log = driver.process->output();
    addRow(label + ", pages dropped (of 2 reading)",
           QStringLiteral("%1 (%2 as too slow a reader)")
               .arg(int(page.dropped) + int(second.dropped)).arg(log.count(QStringLiteral("stopped reading"))));
    addRow(label + ", driver CPU while streaming (its own threads / with the virtual pad's) / peak RSS",
           QStringLiteral("%1 % / %2 % of one core over %3 s / %4 MiB")
               .arg(ownCpu, 0, 'f', 1).arg(cpu, 0, 'f', 1).arg((t1 - t0) / 1e9, 0, 'f', 1)
               .arg(probe.peakRssMiB(), 0, 'f', 1));
    addRow(label + ", CPU by thread (% of one core)", byThread);
    const QVector<double> costs = cpuPerPictureMs(page);
    if (!costs.isEmpty())
        addRow(label + ", driver CPU time per live picture (its own threads, arrival to arrival)",
               QStringLiteral("p50 %1, p99 %2, mean %3 over %4 pictures")
                   .arg(milliseconds(percentile(costs, 50)), milliseconds(percentile(costs, 99)),
                        milliseconds(std::accumulate(costs.begin(), costs.end(), 0.0) / costs.size()))
                   .arg(costs.size()));
    addRow(label + ", confirm to its picture", blankAt < 0 ? QStringLiteral("no picture")
                                                           : QStringLiteral("%1 ms").arg((blankAt - confirmAt) / 1e6, 0, 'f', 1));
}

// One driver, `runs` signings of `samples` each: how many lost no sample.
void lossRuns(int rate, int samples, int runs)
{
    const QString label = QStringLiteral("%1 samples/s, %2 signings of %3 samples").arg(rate).arg(runs).arg(samples);
    Driver driver;
    PageRecorder page(benchClock);
    if (!driver.start() || !page.open()) {
        addRow(label, "driver did not start");
        return;
    }
    const QString out = driver.root.path() + "/out";
    QDir().mkpath(out);
    page.send(QStringLiteral("{\"bizcode\":\"2025\",\"body\":{\"data\":\"%1\"}}").arg(out));
    const QString stroke = writeStroke(driver.root.path(), samples);
    int clean = 0;
    QStringList losses;
    for (int run = 0; run < runs; ++run) {
        QFile::remove(out + "/path.save");
        const int blanks = page.blankPictures();
        page.send(QStringLiteral("{\"bizcode\":\"2023\"}"));
        if (!eventwait::until([&] { return page.blankPictures() > blanks; }, 10000)) {
            losses.append(QStringLiteral("run %1 did not start").arg(run + 1));
            continue;
        }
        driver.pad->command(QStringLiteral("stroke %1 rate %2").arg(stroke).arg(rate));
        eventwait::forMs(samples * 1000 / rate);
        eventwait::until([&] { return driver.pad->status().join('\n').contains("stroke idle"); }, 60000);
        page.send(QStringLiteral("{\"bizcode\":\"2022\"}"));
        eventwait::until([&] { return page.blankPictures() > blanks + 1 && QFile::exists(out + "/path.save"); }, 60000);
        const int lost = samples - pathRecords(out + "/path.save");
        if (lost == 0)
            ++clean;
        else
            losses.append(QStringLiteral("run %1 lost %2").arg(run + 1).arg(lost));
    }
    addRow(label + ", signings without a lost sample",
           QStringLiteral("%1 of %2%3").arg(clean).arg(runs).arg(losses.isEmpty() ? QString() : " (" + losses.join(", ") + ")"));
}

// In the process, what pen data costs: stamping and keeping each sample
// while it is drawn (the GUI thread's share), and encoding the files at the
// confirm (the worker's), both per sample.
void penDataCost(int samples)
{
    QVector<TOUCH_INFO> reports(samples);
    for (int i = 0; i < samples; ++i) {
        const double t = i * 0.01;
        reports[i].x = 5100 + int(4200 * std::sin(t * 0.37));
        reports[i].y = 3700 + int(3000 * std::sin(t * 0.23 + 1.0));
        reports[i].pressure = i % 300 == 299 ? 0 : 300 + (i * 7) % 600;
    }
    tagDEVICE_INFO pad;
    pad.model = QStringLiteral("QZ07");
    pad.maxX = 10205;
    pad.maxY = 7421;
    pad.pressureLevels = 1024;
    EvidenceRequest request;
    request.formats = EvidenceRequest::InkML | EvidenceRequest::Json | EvidenceRequest::Svg;
    QVector<double> keepNs;
    std::optional<EvidenceCapture> capture;
    for (int run = 0; run < 5; ++run) {
        SampleClock clock;
        EvidenceRecorder recorder;
        recorder.request(request);
        recorder.signingStarted(pad);
        QElapsedTimer timer;
        timer.start();
        qint64 readNs = monotonicNs();
        QVector<TOUCH_INFO> report(1); // a decoded report, as the reader has it
        for (int i = 0; i < samples; ++i) {
            report[0] = reports.at(i);
            clock.stamp(&report, readNs += 1000000);
            recorder.sample(report.at(0));
        }
        keepNs << double(timer.nsecsElapsed()) / samples;
        capture = recorder.confirm();
    }
    addRow(QStringLiteral("pen data: stamp and keep one sample (GUI thread), %1 samples, 5 runs").arg(samples),
           QStringLiteral("median %1 ns, max %2 ns").arg(percentile(keepNs, 50), 0, 'f', 0).arg(percentile(keepNs, 100), 0, 'f', 0));

    ZqDraw::Signature signature;
    for (const TOUCH_INFO &t : reports)
        signature.records << TOUCH_INFO_F{float(t.x * 320 / 10206), float(t.y * 240 / 7422), t.pressure, t.pressure ? 2 : 3};
    signature.cut = QRect(0, 0, 320, 240);
    signature.pictureSize = QSize(320, 240);
    signature.penColor = Qt::black;
    const QVector<signaturefiles::NamedFile> pair{{"/out/path.save", pointpath::encodeFile(signature.records)},
                                                  {"/out/save.png", QByteArray(20000, 'p')}};
    QVector<double> encodeUs;
    qint64 bytes = 0;
    for (int run = 0; run < 5; ++run) {
        QElapsedTimer timer;
        timer.start();
        const QVector<evidencefiles::File> files = evidencefiles::encode(signature, *capture, pair);
        encodeUs << timer.nsecsElapsed() / 1e3 / samples;
        bytes = 0;
        for (const evidencefiles::File &file : files)
            bytes += file.file.bytes.size();
    }
    addRow(QStringLiteral("pen data: encode InkML, JSON, SVG and manifest at the confirm (worker), %1 samples").arg(samples),
           QStringLiteral("median %1 us per sample (%2 ms in all), %3 bytes per sample")
               .arg(percentile(encodeUs, 50), 0, 'f', 2).arg(percentile(encodeUs, 50) * samples / 1e3, 0, 'f', 1)
               .arg(double(bytes) / samples, 0, 'f', 0));
}

void pictureSize()
{
    if (lastLivePicture.isEmpty())
        return;
    QTemporaryDir dir;
    QFile live(dir.filePath("live.png"));
    live.open(QIODevice::WriteOnly);
    live.write(lastLivePicture);
    live.close();
    QByteArray rgba;
    QBuffer buffer(&rgba);
    buffer.open(QIODevice::WriteOnly);
    QImage::fromData(lastLivePicture, "PNG").convertToFormat(QImage::Format_ARGB32).save(&buffer, "png");
    QProcess optipng;
    optipng.start("optipng", {"-quiet", "-o2", "-out", dir.filePath("best.png"), dir.filePath("live.png")});
    const bool optimised = optipng.waitForFinished(60000) && optipng.exitCode() == 0;
    const qint64 best = optimised ? QFileInfo(dir.filePath("best.png")).size() : 0;
    addRow("live picture size (last picture at 1,000 samples/s)",
           QStringLiteral("%1 bytes; RGBA as before %2 bytes; optipng -o2 %3")
               .arg(lastLivePicture.size()).arg(rgba.size())
               .arg(optimised ? QStringLiteral("%1 bytes, live = %2x").arg(best).arg(double(lastLivePicture.size()) / std::min<qint64>(best, lastLivePicture.size()), 0, 'f', 2)
                              : QStringLiteral("not installed")));
}

void replay(int points)
{
    Driver driver;
    if (!driver.start())
        return;
    PageRecorder page(benchClock);
    if (!page.open())
        return;
    QVector<TOUCH_INFO_F> records;
    for (int i = 0; i < points; ++i) {
        const double t = i * 0.01;
        records.append(TOUCH_INFO_F{float(int(160 + 140 * std::sin(t * 0.37))), float(int(120 + 100 * std::sin(t * 0.23))),
                                    i % 300 == 299 ? 0 : 500, i % 300 == 0 ? 1 : (i % 300 == 299 ? 3 : 2)});
    }
    const QByteArray file = pointpath::encodeFile(records);
    const qint64 sent = benchClock.nsecsElapsed();
    page.send(QStringLiteral("{\"bizcode\":\"2020\",\"body\":{\"data\":\"%1\"}}").arg(QString::fromLatin1(file.toBase64())));
    eventwait::forMs(1000);
    const qint64 confirmAt = benchClock.nsecsElapsed();
    page.send(QStringLiteral("{\"bizcode\":\"2022\"}"));
    if (!eventwait::until([&] { return page.blankPictures() >= 1; }, 60000))
        std::printf("  (no confirm within 60 s)\n");
    qint64 blankAt = -1;
    int aheadOfIt = 0;
    for (const PageRecorder::Picture &p : page.pictures) {
        if (!p.drawing) {
            blankAt = p.arrivedNs;
            break;
        }
        if (p.arrivedNs > confirmAt)
            ++aheadOfIt;
    }
    waitQuiet(page, 3000, 600000);
    if (page.dropped)
        std::printf("  (the driver dropped the reading page)\n");
    const qint64 end = page.pictures.isEmpty() ? sent : page.pictures.last().arrivedNs;
    addRow(QStringLiteral("replay of %1 points (%2 MiB of Base64)").arg(points).arg(file.toBase64().size() / 1048576.0, 0, 'f', 1),
           QStringLiteral("%1 s, %2 pictures; a confirm sent 1 s in got its picture after %3 ms, "
                          "with %4 replay pictures arriving in between")
               .arg((end - sent) / 1e9, 0, 'f', 1).arg(page.drawingPictures())
               .arg(blankAt < 0 ? QStringLiteral("(none)") : QString::number((blankAt - confirmAt) / 1e6, 'f', 1))
               .arg(aheadOfIt));
}

void idle()
{
    Driver driver;
    if (!driver.start())
        return;
    addRow("start-up to port open", QStringLiteral("%1 ms").arg(driver.startupMs, 0, 'f', 1));
    PageRecorder page(benchClock);
    page.open();
    ProcessProbe probe(driver.process->pid());
    eventwait::forMs(1000);
    const double cpu = probe.cpuSeconds();
    const long wakes = probe.wakeUps();
    eventwait::forMs(5000);
    addRow("idle (a page connected, a pad plugged in), over 5 s",
           QStringLiteral("%1 % CPU, %2 wake-ups/s, RSS %3 MiB")
               .arg((probe.cpuSeconds() - cpu) / 5.0 * 100.0, 0, 'f', 2).arg((probe.wakeUps() - wakes) / 5.0, 0, 'f', 1)
               .arg(probe.rssMiB(), 0, 'f', 1));
}

// The machine's 1-minute load average: other work competes for the cores.
QString loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll().split(' ').value(0)) : QStringLiteral("?");
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchClock.start();
    std::printf("ZQSignDriver bench (%d CPUs online)\n", QThread::idealThreadCount());
    const QString loadAtStart = loadAverage();
    // Named groups run alone (for example `zqbench 1000 replay`); none: all.
    QStringList groups = app.arguments().mid(1);
    auto wanted = [&groups](const char *group) { return groups.isEmpty() || groups.contains(QLatin1String(group)); };
    if (wanted("idle"))
        idle();
    if (wanted("200")) {
        streaming(200, 2000);
        streaming(200, 2000, true);
    }
    if (wanted("1000")) {
        streaming(1000, 10000);
        streaming(1000, 10000, true);
        pictureSize();
    }
    if (wanted("pendata"))
        penDataCost(10000);
    if (wanted("5000"))
        streaming(5000, 25000);
    if (wanted("loss"))
        lossRuns(2000, 4000, 20);
    if (wanted("max"))
        streaming(0, 50000);
    if (wanted("replay"))
        replay(50000);
    addRow("machine load (1-minute average) at the start / the end", loadAtStart + " / " + loadAverage());

    int width = 0;
    for (const Row &row : table)
        width = std::max(width, int(row.what.size()));
    std::printf("\n%-*s | %s\n%s\n", width, "what", "figure", QString(width + 40, '-').toUtf8().constData());
    for (const Row &row : table)
        std::printf("%-*s | %s\n", width, qPrintable(row.what), qPrintable(row.figure));
    return 0;
}
