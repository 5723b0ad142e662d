// QZ07: a pad with its own screen, driven by feature reports:
//   00 08 0B ...  query: answered by an input report with the serial at 32..41
//                 (zeros there for a pad without a serial number)
//   06 01 ...     start signing      06 02 ...  sign again      06 04 ...  end
// It reports its pen only while a signing runs. Input reports are 64 bytes:
//   pen:    02, flags, x little-endian, y little-endian, pressure little-endian
//   button: 02 80 followed by the button's text "OK", "CL" or "CNCL"

#include "core/padmodel.h"

#include <algorithm>
#include <cstring>

namespace padsim {

namespace {

constexpr size_t kReportSize = 64;
constexpr size_t kSerialOffset = 32;
constexpr size_t kSerialSize = 10;

class QZ07 : public Pad
{
public:
    using Pad::Pad;

    void onFeatureReport(const Bytes &report) override
    {
        if (report.size() >= 3 && report[0] == 0x00 && report[1] == 0x08 && report[2] == 0x0b)
            answer(serialReply());
        else if (report.size() >= 2 && report[0] == 0x06 && (report[1] == 0x01 || report[1] == 0x02))
            m_signing = true;
        else if (report.size() >= 2 && report[0] == 0x06 && report[1] == 0x04)
            m_signing = false;
    }

    bool isStartCommand(const Bytes &report) const override
    {
        return report.size() >= 2 && report[0] == 0x06 && report[1] == 0x01;
    }

    // The pad's state: 06, then 1 while a signing runs.
    Bytes featureReport(uint8_t) override
    {
        Bytes state(kReportSize - 1, 0);
        state[0] = 0x06;
        state[1] = m_signing ? 1 : 0;
        return state;
    }

    bool streaming() const override { return m_signing; }
    bool answersQueries() const override { return true; }

    Bytes encodePen(const std::vector<PenSample> &samples) override
    {
        const PenSample &s = samples.back();
        Bytes report(kReportSize, 0);
        report[0] = 0x02;
        report[1] = s.pressure > 0 ? 0x01 : 0x00;
        report[2] = static_cast<uint8_t>(s.x);
        report[3] = static_cast<uint8_t>(s.x >> 8);
        report[4] = static_cast<uint8_t>(s.y);
        report[5] = static_cast<uint8_t>(s.y >> 8);
        report[6] = static_cast<uint8_t>(s.pressure);
        report[7] = static_cast<uint8_t>((s.pressure >> 8) & 0x7f);
        return report;
    }

    Bytes encodeButton(Button button) override
    {
        const char *text = button == Button::Confirm ? "OK" : button == Button::Resign ? "CL" : "CNCL";
        Bytes report(kReportSize, 0);
        report[0] = 0x02;
        report[1] = 0x80;
        std::memcpy(report.data() + 2, text, std::strlen(text));
        return report;
    }

private:
    Bytes serialReply() const
    {
        Bytes report(kReportSize, 0);
        report[0] = 0x08;
        report[1] = 0x0b;
        const std::string serial = m_link.serial();
        std::copy_n(serial.begin(), std::min(serial.size(), kSerialSize), report.begin() + kSerialOffset);
        return report;
    }

    bool m_signing = false;
};

} // namespace

const PadModel &qz07Model()
{
    static const PadModel model{"qz07", 0x28bd, 0x600c, 10205, 7421, 1024,
                                "QZ07SIM001", "Tavrel", "QZ07",
                                [](PadLink &link) -> std::unique_ptr<Pad> { return std::make_unique<QZ07>(link); }};
    return model;
}

} // namespace padsim
