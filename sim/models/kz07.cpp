// KZ07: a pad with its own screen, driven by framed JSON commands in 1025-byte
// output reports. A frame is the report number 00, a 12-byte header (command
// id, flag 0001, length = payload + 12, CRC-16/USB over header and payload with
// the CRC field zero, offset 00000000; all big-endian) and the JSON payload.
// The pad checks every frame: a malformed one is noted in the call log and not
// answered.
//   {"func":"GetDeviceInfo"}                  answered with {"serial":"..."}, or {}
//                                             by a pad without a serial number
//   {"func":"SetCmdToDevice", "flag":"1"}    start signing ("2" again, "3" end)
// Input reports are 256 bytes: the same 12-byte header, then JSON text; pen
// samples go as {"info":[{"x":"..","y":"..","pressure":"..","btnId":"-1"},...]}.

#include "core/padmodel.h"

#include <algorithm>
#include <cctype>
#include <map>

namespace padsim {

namespace {

constexpr size_t kHeaderSize = 12;
constexpr size_t kInputReportSize = 256;

uint16_t crc16Usb(const uint8_t *data, size_t length)
{
    uint16_t crc = 0xffff;
    for (size_t i = 0; i < length; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xa001) : static_cast<uint16_t>(crc >> 1);
    }
    return static_cast<uint16_t>(crc ^ 0xffff);
}

uint16_t be16(const uint8_t *p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

void putBe16(uint8_t *p, uint16_t value)
{
    p[0] = static_cast<uint8_t>(value >> 8);
    p[1] = static_cast<uint8_t>(value);
}

// A flat JSON object whose values are all strings: all the commands are.
bool parseCommand(const std::string &text, std::map<std::string, std::string> &fields)
{
    size_t i = 0;
    auto skip = [&] { while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i; };
    auto literal = [&](char c) { skip(); if (i < text.size() && text[i] == c) { ++i; return true; } return false; };
    auto quoted = [&](std::string &out) {
        if (!literal('"'))
            return false;
        out.clear();
        while (i < text.size() && text[i] != '"') {
            if (text[i] == '\\' && i + 1 < text.size())
                ++i;
            out += text[i++];
        }
        return i < text.size() && text[i++] == '"';
    };
    if (!literal('{'))
        return false;
    if (literal('}'))
        return (skip(), i == text.size());
    do {
        std::string key, value;
        if (!quoted(key) || !literal(':') || !quoted(value))
            return false;
        fields[key] = value;
    } while (literal(','));
    return literal('}') && (skip(), i == text.size());
}

class KZ07 : public Pad
{
public:
    using Pad::Pad;

    void onOutputReport(const Bytes &report) override
    {
        std::string payload;
        uint16_t commandId = 0;
        const std::string fault = checkFrame(report, payload, commandId);
        std::map<std::string, std::string> fields;
        if (!fault.empty())
            m_link.note("malformed " + fault);
        else if (!parseCommand(payload, fields))
            m_link.note("malformed json");
        else
            perform(fields, commandId);
    }

    bool isStartCommand(const Bytes &report) const override
    {
        std::string payload;
        uint16_t commandId = 0;
        std::map<std::string, std::string> fields;
        return checkFrame(report, payload, commandId).empty() && parseCommand(payload, fields)
               && fields["func"] == "SetCmdToDevice" && fields["flag"] == "1";
    }

    bool streaming() const override { return m_signing; }
    bool answersQueries() const override { return true; }
    // Three samples keep the text within the 206 bytes the host reads.
    size_t samplesPerReport() const override { return 3; }

    Bytes encodePen(const std::vector<PenSample> &samples) override
    {
        std::string text = "{\"info\":[";
        for (size_t i = 0; i < samples.size(); ++i)
            text += (i ? "," : "") + sample(samples[i].x, samples[i].y, samples[i].pressure, -1);
        return inputReport(++m_sampleId, text + "]}");
    }

    Bytes encodeButton(Button button) override
    {
        const int id = button == Button::Resign ? 2 : button == Button::Confirm ? 3 : 4;
        return inputReport(++m_sampleId, "{\"info\":[" + sample(0, 0, 0, id) + "]}");
    }

private:
    static std::string sample(int x, int y, int pressure, int button)
    {
        return "{\"x\":\"" + std::to_string(x) + "\",\"y\":\"" + std::to_string(y) + "\",\"pressure\":\"" +
               std::to_string(pressure) + "\",\"btnId\":\"" + std::to_string(button) + "\"}";
    }

    // Empty when the frame is sound; otherwise what is wrong with it.
    static std::string checkFrame(const Bytes &report, std::string &payload, uint16_t &commandId)
    {
        if (report.size() < 1 + kHeaderSize)
            return "short";
        if (report[0] != 0x00)
            return "report-number";
        const uint8_t *header = report.data() + 1;
        const uint16_t length = be16(header + 4);
        if (be16(header + 2) != 1)
            return "flag";
        if (header[8] || header[9] || header[10] || header[11])
            return "offset";
        if (length < kHeaderSize || 1u + length > report.size())
            return "length";
        Bytes checked(header, header + length);
        checked[6] = checked[7] = 0;
        if (crc16Usb(checked.data(), checked.size()) != be16(header + 6))
            return "crc";
        commandId = be16(header);
        payload.assign(header + kHeaderSize, header + length);
        return "";
    }

    void perform(const std::map<std::string, std::string> &fields, uint16_t commandId)
    {
        const auto func = fields.find("func");
        const auto flag = fields.find("flag");
        if (func == fields.end())
            return m_link.note("malformed func");
        if (func->second == "GetDeviceInfo") {
            const std::string serial = m_link.serial();
            return answer(inputReport(commandId, serial.empty() ? "{}" : "{\"serial\":\"" + serial + "\"}"));
        }
        if (func->second == "SetCmdToDevice" && flag != fields.end()) {
            if (flag->second == "1" || flag->second == "2")
                m_signing = true;
            else if (flag->second == "3")
                m_signing = false;
        }
    }

    static Bytes inputReport(uint16_t id, const std::string &text)
    {
        Bytes report(kInputReportSize, 0);
        const size_t size = std::min(text.size(), kInputReportSize - kHeaderSize);
        putBe16(&report[0], id);
        putBe16(&report[2], 1);
        putBe16(&report[4], static_cast<uint16_t>(size + kHeaderSize));
        std::copy_n(text.begin(), size, report.begin() + kHeaderSize);
        putBe16(&report[6], crc16Usb(report.data(), kHeaderSize + size));
        return report;
    }

    bool m_signing = false;
    uint16_t m_sampleId = 0;
};

} // namespace

const PadModel &kz07Model()
{
    static const PadModel model{"kz07", 0x2207, 0x0019, 799, 479, 2048,
                                "KZ07SIM0000001", "Tavrel", "KZ07",
                                [](PadLink &link) -> std::unique_ptr<Pad> { return std::make_unique<KZ07>(link); }};
    return model;
}

} // namespace padsim
