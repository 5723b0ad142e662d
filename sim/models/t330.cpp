// T330: a pen tablet that takes no commands and reports its pen whenever it
// moves. Its serial number is its USB serial-number string (hidapi reads an
// empty one from a pad without). Its buttons are printed on a strip along the
// bottom edge: touching one is a pen sample there.
//
// Pen report, 8 bytes: 02, flags (bit 0: pressure bit 0), x big-endian,
// y big-endian, pressure bits 10..3, pressure bits 2..1 in bits 7..6.

#include "core/padmodel.h"

namespace padsim {

namespace {

constexpr int kMaxX = 10205;
constexpr int kMaxY = 7421;

class T330 : public Pad
{
public:
    using Pad::Pad;

    bool streaming() const override { return true; }

    Bytes encodePen(const std::vector<PenSample> &samples) override
    {
        const PenSample &s = samples.back();
        const int p = s.pressure & 0x7ff;
        return {0x02,
                static_cast<uint8_t>(p & 1),
                static_cast<uint8_t>(s.x >> 8), static_cast<uint8_t>(s.x),
                static_cast<uint8_t>(s.y >> 8), static_cast<uint8_t>(s.y),
                static_cast<uint8_t>(p >> 3),
                static_cast<uint8_t>(((p >> 1) & 3) << 6)};
    }

    // The strip is the bottom eighth; confirm, re-sign and cancel from the left.
    Bytes encodeButton(Button button) override
    {
        const int width = kMaxX + 1;
        const int height = kMaxY + 1;
        const int third = button == Button::Confirm ? 0 : button == Button::Resign ? 1 : 2;
        const PenSample press{width * (2 * third + 1) / 6, (height * 7 / 8 + height) / 2, 600};
        return encodePen({press});
    }
};

} // namespace

const PadModel &t330Model()
{
    static const PadModel model{"t330", 0x0b57, 0x8534, kMaxX, kMaxY, 2048,
                                "T330SIM00000001", "Tavrel", "T330",
                                [](PadLink &link) -> std::unique_ptr<Pad> { return std::make_unique<T330>(link); }};
    return model;
}

} // namespace padsim
