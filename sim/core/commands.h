#pragma once

#include <string>

namespace padsim {

// Runs one control command. The reply's first line is "ok ..." or
// "error: <reason>"; `log`, `status` and `help` answer "ok N" followed by N
// lines. No trailing newline.
std::string runCommand(const std::string &line);

// Serves the control socket from this process unless it already does.
void ensureServing();

} // namespace padsim
