// The control socket. A process that links hidapi or libusb starts serving
// when the library is loaded, so a test can attach pads before the host's first
// call; any other process (a shell on the way to the host, say) serves only if
// it calls in itself. The lock file next to the socket makes sure one process
// serves it at a time; a later one warns that its pads cannot be controlled.

#include "core/commands.h"
#include "core/socketpath.h"
#include "core/stroke.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace padsim {

namespace {

constexpr size_t kMaxLine = 1 << 16;

struct Client
{
    int fd;
    std::string pending;
    bool overlong = false;
};

class Server
{
public:
    bool start();
    void stop();

private:
    void run();
    bool serve(Client &client);   // false when the client has gone

    std::string m_path;
    int m_lockFd = -1;
    int m_listenFd = -1;
    int m_wakePipe[2] = {-1, -1};
    std::thread m_thread;
};

bool sendAll(int fd, const std::string &text)
{
    size_t sent = 0;
    while (sent < text.size()) {
        const ssize_t n = ::send(fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

bool Server::start()
{
    m_path = controlSocketPath();
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (m_path.size() >= sizeof address.sun_path) {
        std::fprintf(stderr, "padsim: socket path too long: %s\n", m_path.c_str());
        return false;
    }
    std::strcpy(address.sun_path, m_path.c_str());
    m_lockFd = ::open((m_path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (m_lockFd < 0 || ::flock(m_lockFd, LOCK_EX | LOCK_NB) != 0) {
        if (m_lockFd >= 0)
            ::close(m_lockFd);
        m_lockFd = -1;
        return false;   // another process serves this socket
    }
    ::unlink(m_path.c_str());   // left over from a process that ended
    m_listenFd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_listenFd < 0 || ::bind(m_listenFd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        ::listen(m_listenFd, 16) != 0 || ::pipe2(m_wakePipe, O_CLOEXEC) != 0) {
        std::fprintf(stderr, "padsim: cannot serve %s: %s\n", m_path.c_str(), std::strerror(errno));
        stop();
        return false;
    }
    m_thread = std::thread(&Server::run, this);
    return true;
}

void Server::stop()
{
    if (m_thread.joinable()) {
        const char byte = 0;
        if (::write(m_wakePipe[1], &byte, 1) < 0)
            std::perror("padsim: wake");
        m_thread.join();
    }
    for (int *fd : {&m_listenFd, &m_wakePipe[0], &m_wakePipe[1]}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
    if (m_lockFd >= 0) {
        ::unlink(m_path.c_str());
        ::close(m_lockFd);
        m_lockFd = -1;
    }
}

void Server::run()
{
    pthread_setname_np(pthread_self(), "padsim-server");
    std::vector<Client> clients;
    for (;;) {
        std::vector<pollfd> fds{{m_wakePipe[0], POLLIN, 0}, {m_listenFd, POLLIN, 0}};
        for (const Client &client : clients)
            fds.push_back({client.fd, POLLIN, 0});
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (fds[0].revents)
            break;
        for (size_t i = clients.size(); i-- > 0;) {
            if (fds[i + 2].revents && !serve(clients[i])) {
                ::close(clients[i].fd);
                clients.erase(clients.begin() + static_cast<long>(i));
            }
        }
        if (fds[1].revents & POLLIN) {
            const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0)
                clients.push_back({fd, {}, false});
        }
    }
    for (const Client &client : clients)
        ::close(client.fd);
}

bool Server::serve(Client &client)
{
    char buffer[4096];
    const ssize_t n = ::recv(client.fd, buffer, sizeof buffer, 0);
    if (n <= 0)
        return n < 0 && errno == EINTR;
    client.pending.append(buffer, static_cast<size_t>(n));
    size_t newline;
    while ((newline = client.pending.find('\n')) != std::string::npos) {
        std::string line = client.pending.substr(0, newline);
        client.pending.erase(0, newline + 1);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const std::string reply = client.overlong ? "error: line too long" : runCommand(line);
        client.overlong = false;
        if (!sendAll(client.fd, reply + "\n"))
            return false;
    }
    if (client.pending.size() > kMaxLine) {
        client.pending.clear();
        client.overlong = true;   // answered once its newline arrives
    }
    return true;
}

Server &server()
{
    static Server *instance = new Server;   // lives as long as the process
    return *instance;
}

std::once_flag servingOnce;

void serve()
{
    std::call_once(servingOnce, [] {
        if (!server().start())
            std::fprintf(stderr, "padsim: another process serves %s; the virtual pads of process %d cannot be "
                                 "controlled\n", controlSocketPath().c_str(), static_cast<int>(getpid()));
    });
}

__attribute__((constructor)) void startServing()
{
    if (dlsym(RTLD_NEXT, "hid_init") || dlsym(RTLD_NEXT, "libusb_init"))
        serve();
}

__attribute__((destructor)) void stopServing()
{
    server().stop();
    StrokePlayer::instance().stop();
}

} // namespace

void ensureServing()
{
    serve();
}

} // namespace padsim
