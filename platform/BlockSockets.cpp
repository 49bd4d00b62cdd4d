#include "platform/BlockSockets.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

namespace BlockSockets {

namespace {

std::string ErrnoText(int error) { return std::strerror(error); }

// Resolves host to an IPv4 address; fills error on failure.
bool ResolveHost(const std::string &host, in_addr &address, std::string &error)
{
    if (inet_pton(AF_INET, host.c_str(), &address) == 1)
        return true;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    const int status = getaddrinfo(host.c_str(), nullptr, &hints, &found);
    if (status != 0 || !found) {
        error = "cannot resolve " + host + ": " + gai_strerror(status);
        return false;
    }
    const addrinfo *last = found;
    while (last->ai_next)
        last = last->ai_next;
    address = reinterpret_cast<const sockaddr_in *>(last->ai_addr)->sin_addr;
    freeaddrinfo(found);
    return true;
}

// Starts a non-blocking connect and waits until it completes or the time runs out.
// Returns the connected non-blocking socket, or -1 with error set.
int ConnectWithin(const sockaddr_in &target, int milliseconds, std::string &error)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = "socket: " + ErrnoText(errno);
        return -1;
    }
    if (connect(fd, reinterpret_cast<const sockaddr *>(&target), sizeof target) != 0 && errno != EINPROGRESS) {
        error = ErrnoText(errno);
        close(fd);
        return -1;
    }
    pollfd p{fd, POLLOUT, 0};
    int ready;
    do {
        ready = poll(&p, 1, milliseconds);
    } while (ready < 0 && errno == EINTR);
    if (ready <= 0) {
        error = "no answer within " + std::to_string(milliseconds) + " ms";
        close(fd);
        return -1;
    }
    int soError = 0;
    socklen_t length = sizeof soError;
    getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &length);
    if (soError != 0) {
        error = ErrnoText(soError);
        close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

TBlockSocket::~TBlockSocket() { Close(); }

bool TBlockSocket::Fail(const std::string &what)
{
    lastError = what;
    return false;
}

bool TBlockSocket::Connect(const std::string &host, uint16_t port, int probeSeconds)
{
    Close();
    peerClosed = false;
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(port);
    std::string error;
    if (!ResolveHost(host, target.sin_addr, error))
        return Fail(error);
    const std::string where = host + ":" + std::to_string(port);
    const int limitMs = probeSeconds * 1000;

    // The probe tells an unreachable host quickly; it is closed without a byte sent.
    const int probe = ConnectWithin(target, limitMs, error);
    if (probe < 0)
        return Fail("cannot reach " + where + ": " + error);
    close(probe);

    const int connection = ConnectWithin(target, limitMs, error);
    if (connection < 0)
        return Fail("cannot connect to " + where + ": " + error);
    const int flags = fcntl(connection, F_GETFL);
    fcntl(connection, F_SETFL, flags & ~O_NONBLOCK);
    // Requests end with a short closing line; without this it waits for the previous ACK.
    const int on = 1;
    setsockopt(connection, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    {
        std::lock_guard guard(fdLock);
        fd = connection;
    }
    SetTimeout(timeoutMs);
    connected = true;
    return true;
}

void TBlockSocket::SetTimeout(int milliseconds)
{
    timeoutMs = milliseconds;
    if (fd < 0)
        return;
    timeval limit{milliseconds / 1000, (milliseconds % 1000) * 1000};
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
}

int64_t TBlockSocket::SendBuffer(const void *data, size_t length)
{
    if (!connected)
        return -1;
    const auto *bytes = static_cast<const char *>(data);
    size_t sent = 0;
    int misses = 0;
    while (sent < length) {
        const ssize_t n = send(fd, bytes + sent, length - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += size_t(n);
            misses = 0;
            continue;
        }
        const int error = errno;
        if (n < 0 && error != EAGAIN && error != EWOULDBLOCK && error != EINTR) {
            // The peer is gone (EPIPE, ECONNRESET) or the socket was interrupted.
            connected = false;
            lastError = "send failed: " + ErrnoText(error);
            return -1;
        }
        if (++misses > 3) {
            lastError = "send stalled for " + std::to_string(timeoutMs) + " ms, four times";
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return int64_t(sent);
}

std::string TBlockSocket::ReceiveText()
{
    if (fd < 0)
        return {};
    pollfd p{fd, POLLIN, 0};
    int ready;
    do {
        ready = poll(&p, 1, timeoutMs);
    } while (ready < 0 && errno == EINTR);
    if (ready <= 0)
        return {};
    int available = 0;
    if (ioctl(fd, FIONREAD, &available) != 0 || available <= 0) {
        // Readable with nothing to read: the peer closed (or reset) the connection.
        peerClosed = true;
        connected = false;
        return {};
    }
    std::string text(std::min<size_t>(size_t(available), MaxReceive), '\0');
    const ssize_t n = recv(fd, text.data(), text.size(), 0);
    if (n <= 0) {
        peerClosed = true;
        connected = false;
        return {};
    }
    text.resize(size_t(n));
    return text;
}

void TBlockSocket::Interrupt()
{
    std::lock_guard guard(fdLock);
    if (fd >= 0)
        shutdown(fd, SHUT_RDWR);
}

void TBlockSocket::Close()
{
    std::lock_guard guard(fdLock);
    if (fd >= 0)
        close(fd);
    fd = -1;
    connected = false;
}

}  // namespace BlockSockets
