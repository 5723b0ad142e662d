// Writes the seed corpora's real formats: pen and button reports of each
// virtual pad model, the KZ07 frames the driver sends and the pad's answer,
// a point path file of a stroke and the requests a page sends.
// Usage: fuzz_makeseeds CORPUS_DIR
#include "core/padmodel.h"
#include "ink/pointpath.h"
#include "pad/utils.h"

#include <QByteArray>
#include <QDir>
#include <QFile>

#include <cmath>
#include <cstdio>

namespace {

QString corpus;

void put(const char *target, const QString &name, const QByteArray &bytes)
{
    QDir().mkpath(corpus + "/" + target);
    QFile file(corpus + "/" + target + "/" + name);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
        std::fprintf(stderr, "fuzz_makeseeds: cannot write %s\n", qPrintable(file.fileName()));
        std::exit(1);
    }
}

QByteArray bytes(const padsim::Bytes &b)
{
    return QByteArray(reinterpret_cast<const char *>(b.data()), int(b.size()));
}

// Keeps what the pad sends towards the host.
class Recorder : public padsim::PadLink
{
public:
    void send(const padsim::Bytes &report) override { sent.push_back(report); }
    void note(const std::string &) override {}
    std::string serial() const override { return "KZ07SIM00000001"; }
    std::vector<padsim::Bytes> sent;
};

void padReports(const char *model, const char *target)
{
    Recorder link;
    const padsim::PadModel *pad = padsim::findModel(model);
    std::unique_ptr<padsim::Pad> device = pad->create(link);
    const std::vector<padsim::PenSample> samples{
        {0, 0, 0}, {pad->maxX / 2, pad->maxY / 3, pad->pressureLevels / 2},
        {pad->maxX, pad->maxY, pad->pressureLevels - 1}, {pad->maxX / 5, pad->maxY * 15 / 16, 1}};
    for (size_t i = 0; i < samples.size(); ++i) {
        std::vector<padsim::PenSample> group;
        for (size_t j = 0; j < device->samplesPerReport() && i + j < samples.size(); ++j)
            group.push_back(samples[i + j]);
        put(target, QString("pen-%1").arg(i), bytes(device->encodePen(group)));
    }
    put(target, "confirm", bytes(device->encodeButton(padsim::Button::Confirm)));
    put(target, "resign", bytes(device->encodeButton(padsim::Button::Resign)));
    put(target, "cancel", bytes(device->encodeButton(padsim::Button::Cancel)));
}

void kz07Frames()
{
    Recorder link;
    std::unique_ptr<padsim::Pad> pad = padsim::findModel("kz07")->create(link);
    const char *commands[] = {R"({"func":"GetDeviceInfo"})", R"({"func":"SetCmdToDevice", "flag":"1"})",
                              R"({"func":"SetCmdToDevice", "flag":"2"})", R"({"func":"SetCmdToDevice", "flag":"3"})"};
    int n = 0;
    for (const char *command : commands) {
        const QByteArray payload(command);
        const QByteArray frame = utils::PackKz7Comm(QString::fromLatin1(payload.toHex()));
        put("fuzz_kz07frame", QString("payload-%1").arg(n), payload);
        put("fuzz_kz07frame", QString("frame-hex-%1").arg(n), frame.toHex());
        // The pad takes the frame in a 1025-byte output report.
        padsim::Bytes report(frame.begin(), frame.end());
        report.resize(1025, 0);
        pad->onOutputReport(report);
        ++n;
    }
    if (link.sent.empty()) {
        std::fprintf(stderr, "fuzz_makeseeds: the KZ07 did not answer its query\n");
        std::exit(1);
    }
    put("fuzz_kz07reply", "serial", bytes(link.sent.front()));
    put("fuzz_kz07report", "serial-reply", bytes(link.sent.front()));
}

QByteArray pathFile()
{
    QVector<TOUCH_INFO_F> records;
    for (int i = 0; i < 40; ++i) {
        TOUCH_INFO_F record;
        record.x = 100.0f + i * 7.5f;
        record.y = 200.0f + 60.0f * std::sin(i / 5.0f);
        record.pressure = 300 + i * 10;
        record.state = i == 0 || i == 20 ? 1 : 2;
        records.append(record);
    }
    return pointpath::encodeFile(records);
}

void pageRequests(const QByteArray &path)
{
    const QByteArray requests[] = {
        R"({"bizcode":"2025","body":{"data":"/tmp/signatures"}})",
        R"({"bizcode":"2023"})",
        R"({"bizcode":"2022"})",
        R"({"bizcode":"2021"})",
        R"({"bizcode":"2024"})",
        R"({"bizcode":"2040"})",
        R"({"bizcode":"2020","body":{"data":")" + path.toBase64() + R"("}})",
    };
    int n = 0;
    for (const QByteArray &request : requests)
        put("fuzz_webrequest", QString("request-%1").arg(n++), request);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_makeseeds CORPUS_DIR\n");
        return 2;
    }
    corpus = QString::fromLocal8Bit(argv[1]);
    padReports("t330", "fuzz_t330report");
    padReports("qz07", "fuzz_qz07report");
    padReports("kz07", "fuzz_kz07report");
    kz07Frames();
    const QByteArray path = pathFile();
    put("fuzz_pointpath", "stroke.save", path);
    const QList<QByteArray> lines = path.mid(pointpath::kHeaderSize).split('\n');
    put("fuzz_base64", "record-first", lines.value(0));
    put("fuzz_base64", "record-second", lines.value(1));
    pageRequests(path);
    return 0;
}
