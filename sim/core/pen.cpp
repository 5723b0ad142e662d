#include "core/pen.h"

namespace padsim {

static bool reaches(const Device &device)
{
    return device.pad && device.pad->streaming() && device.handle && !device.bench.faults.stall;
}

int movePen(Device &device, const std::vector<PenSample> &samples)
{
    if (!reaches(device))
        return 0;
    device.send(device.pad->encodePen(samples));
    return 1;
}

int pressButton(Device &device, Button button)
{
    if (!reaches(device))
        return 0;
    device.send(device.pad->encodeButton(button));
    return 1;
}

bool parseButton(const std::string &name, Button &button)
{
    if (name == "confirm")
        button = Button::Confirm;
    else if (name == "resign")
        button = Button::Resign;
    else if (name == "cancel")
        button = Button::Cancel;
    else
        return false;
    return true;
}

} // namespace padsim
