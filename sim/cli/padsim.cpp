// padsim: the virtual pad's command-line tool.
//   padsim COMMAND...            send one command, print the reply
//                                (exit 0 on ok, 1 on error, 2 when unreachable)
//   padsim run -- PROGRAM ARGS   run PROGRAM with the virtual pad preloaded

#include "core/socketpath.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

int usage()
{
    std::fprintf(stderr,
                 "usage: padsim COMMAND...          (padsim help lists the commands)\n"
                 "       padsim run -- PROGRAM [ARGS...]\n"
                 "The control socket is $PADSIM_SOCKET, else %s.\n",
                 padsim::controlSocketPath().c_str());
    return 2;
}

std::string executableDir()
{
    char path[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return ".";
    path[n] = '\0';
    std::string dir(path);
    return dir.substr(0, dir.rfind('/'));
}

// The library sits in lib/ beside bin/, where the build puts it.
std::string libraryPath()
{
    const char *explicitPath = std::getenv("PADSIM_LIBRARY");
    if (explicitPath && *explicitPath)
        return explicitPath;
    return executableDir() + "/../lib/libpadsim.so";
}

int run(int argc, char **argv)
{
    int first = 2;
    if (first < argc && std::strcmp(argv[first], "--") == 0)
        ++first;
    if (first >= argc)
        return usage();
    std::string preload = libraryPath();
    if (access(preload.c_str(), R_OK) != 0) {
        std::fprintf(stderr, "padsim: cannot find %s (set PADSIM_LIBRARY)\n", preload.c_str());
        return 2;
    }
#ifdef PADSIM_SANITIZER_RUNTIME
    // A library built with a sanitizer needs its runtime first in the list.
    preload = std::string(PADSIM_SANITIZER_RUNTIME) + ":" + preload;
#endif
    if (const char *existing = std::getenv("LD_PRELOAD"); existing && *existing)
        preload += std::string(":") + existing;
    setenv("LD_PRELOAD", preload.c_str(), 1);
    setenv("PADSIM_SOCKET", padsim::controlSocketPath().c_str(), 1);
    execvp(argv[first], argv + first);
    std::fprintf(stderr, "padsim: cannot run %s: %s\n", argv[first], std::strerror(errno));
    return 127;
}

int connectSocket(const std::string &path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return -1;
    std::strcpy(address.sun_path, path.c_str());
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0)
        return fd;
    if (fd >= 0)
        close(fd);
    return -1;
}

// Relative stroke files are read by the process that serves the socket.
std::string absoluteStrokePath(const std::vector<std::string> &words, size_t index)
{
    const std::string &word = words[index];
    if (words[0] != "stroke" || index != 1 || word == "demo" || word == "stop" || word.empty() || word[0] == '/')
        return word;
    char cwd[PATH_MAX];
    return getcwd(cwd, sizeof cwd) ? std::string(cwd) + "/" + word : word;
}

bool readLine(int fd, std::string &buffer, std::string &line)
{
    size_t newline;
    while ((newline = buffer.find('\n')) == std::string::npos) {
        char chunk[4096];
        const ssize_t n = recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0)
            return false;
        buffer.append(chunk, static_cast<size_t>(n));
    }
    line = buffer.substr(0, newline);
    buffer.erase(0, newline + 1);
    return true;
}

int command(int argc, char **argv)
{
    std::vector<std::string> words(argv + 1, argv + argc);
    std::string text;
    for (size_t i = 0; i < words.size(); ++i)
        text += (i ? " " : "") + absoluteStrokePath(words, i);
    const std::string path = padsim::controlSocketPath();
    const int fd = connectSocket(path);
    if (fd < 0) {
        std::fprintf(stderr, "padsim: no virtual pad listens on %s\n", path.c_str());
        return 2;
    }
    text += "\n";
    std::string buffer, line;
    if (send(fd, text.data(), text.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(text.size()) ||
        !readLine(fd, buffer, line)) {
        std::fprintf(stderr, "padsim: the virtual pad did not answer\n");
        close(fd);
        return 2;
    }
    std::printf("%s\n", line.c_str());
    const bool ok = line.rfind("ok", 0) == 0;
    // "ok N" from log, status and help: N more lines follow.
    long more = 0;
    if (ok && (words[0] == "log" || words[0] == "status" || words[0] == "help") && words.size() == 1)
        more = std::strtol(line.c_str() + 2, nullptr, 10);
    for (long i = 0; i < more && readLine(fd, buffer, line); ++i)
        std::printf("%s\n", line.c_str());
    close(fd);
    return ok ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)
        return usage();
    if (std::strcmp(argv[1], "run") == 0)
        return run(argc, argv);
    return command(argc, argv);
}
