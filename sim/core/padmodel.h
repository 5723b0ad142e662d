#pragma once

// What one pad model is: its ids and extents, and the behaviour of one
// attached pad of that model (its answers to commands, its report format).
// Each model lives in one file under models/ and is listed in padmodel.cpp.

#include "core/hex.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace padsim {

struct PenSample
{
    int x = 0;
    int y = 0;
    int pressure = 0;
};

enum class Button { Confirm, Resign, Cancel };

// The pad's side of the cable, handed to it by the bench. Called with the
// bench's lock held, like every Pad method.
class PadLink
{
public:
    virtual ~PadLink() = default;
    // One input report towards the host; lost when nobody has the pad open
    // or the pad is stalled.
    virtual void send(const Bytes &report) = 0;
    // One line in the call log, after the call that caused it.
    virtual void note(const std::string &line) = 0;
    // Empty for a pad without a serial number.
    virtual std::string serial() const = 0;
};

class Pad
{
public:
    explicit Pad(PadLink &link) : m_link(link) {}
    virtual ~Pad() = default;

    // hid_write: the whole report, report number first.
    virtual void onOutputReport(const Bytes &report) { (void)report; }
    // hid_send_feature_report: the whole report, report number first.
    virtual void onFeatureReport(const Bytes &report) { (void)report; }
    // hid_get_feature_report: the report's bytes after its number.
    virtual Bytes featureReport(uint8_t reportNumber) { (void)reportNumber; return {}; }
    // True for the command that starts a signing (the fault fail-start refuses it).
    virtual bool isStartCommand(const Bytes &report) const { (void)report; return false; }

    // Whether the pen's movements are reported now.
    virtual bool streaming() const = 0;
    // How many samples share one input report at most.
    virtual size_t samplesPerReport() const { return 1; }
    virtual Bytes encodePen(const std::vector<PenSample> &samples) = 0;
    virtual Bytes encodeButton(Button button) = 0;

    // Whether the pad answers queries, so that `reply HEX` means something.
    virtual bool answersQueries() const { return false; }
    void replaceNextAnswer(const Bytes &report) { m_nextAnswer = report; }

protected:
    // Sends a query's answer, or the raw report a test asked for instead.
    void answer(const Bytes &report)
    {
        if (m_nextAnswer) {
            m_link.send(*m_nextAnswer);
            m_nextAnswer.reset();
        } else {
            m_link.send(report);
        }
    }
    PadLink &m_link;

private:
    std::optional<Bytes> m_nextAnswer;
};

struct PadModel
{
    const char *name;           // as typed in `plug NAME`
    uint16_t vid;
    uint16_t pid;
    int maxX;                   // coordinates run 0..maxX, 0..maxY
    int maxY;
    int pressureLevels;
    const char *defaultSerial;
    const char *manufacturer;
    const char *product;
    std::unique_ptr<Pad> (*create)(PadLink &link);
};

// Defined in the models' own files. A function-local static, not a
// registering global: the control thread starts while the library loads and
// must find every model from its first command.
const PadModel &t330Model();
const PadModel &qz07Model();
const PadModel &kz07Model();

const PadModel *findModel(const std::string &name);
std::vector<const PadModel *> allModels();

} // namespace padsim
