#pragma once

#include <string>

namespace padsim {

// The control socket: $PADSIM_SOCKET, else $XDG_RUNTIME_DIR/padsim.sock,
// else $TMPDIR/padsim-UID.sock (TMPDIR defaulting to /tmp).
std::string controlSocketPath();

} // namespace padsim
