#include "core/socketpath.h"

#include <cstdlib>
#include <unistd.h>

namespace padsim {

static std::string fromEnv(const char *name)
{
    const char *value = std::getenv(name);
    return value ? value : "";
}

std::string controlSocketPath()
{
    const std::string explicitPath = fromEnv("PADSIM_SOCKET");
    if (!explicitPath.empty())
        return explicitPath;
    const std::string runtime = fromEnv("XDG_RUNTIME_DIR");
    if (!runtime.empty())
        return runtime + "/padsim.sock";
    std::string tmp = fromEnv("TMPDIR");
    if (tmp.empty())
        tmp = "/tmp";
    return tmp + "/padsim-" + std::to_string(getuid()) + ".sock";
}

} // namespace padsim
