#pragma once

// Pen input as the pad sees it. Called with the bench's lock held; each
// returns the number of input reports that reached the host.

#include "core/bench.h"

namespace padsim {

int movePen(Device &device, const std::vector<PenSample> &samples);
int pressButton(Device &device, Button button);
bool parseButton(const std::string &name, Button &button);

} // namespace padsim
