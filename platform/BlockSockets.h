#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

namespace BlockSockets {

// A blocking TCP client connection whose every call is limited by a time-out.
class TBlockSocket {
public:
    TBlockSocket() = default;
    ~TBlockSocket();
    TBlockSocket(const TBlockSocket &) = delete;
    TBlockSocket &operator=(const TBlockSocket &) = delete;

    // host: a dotted IPv4 address or a name (the last address it resolves to is used).
    // A non-blocking probe must become writable within probeSeconds; the connection proper
    // is limited to the same time.
    bool Connect(const std::string &host, uint16_t port, int probeSeconds);
    // Bytes sent (all of them unless the connection broke), or -1.
    int64_t SendBuffer(const void *data, size_t length);
    // What arrived within the time-out (at most MaxReceive bytes); empty on silence or when
    // the peer closed the connection (PeerClosed tells which).
    std::string ReceiveText();
    void SetTimeout(int milliseconds);
    void Close();
    // Ends a blocked send or receive from another thread; the socket stays owned here.
    void Interrupt();

    bool Connected() const { return connected; }
    bool PeerClosed() const { return peerClosed; }
    const std::string &LastError() const { return lastError; }

    static constexpr size_t MaxReceive = 64 * 1024;

private:
    bool Fail(const std::string &what);

    int fd = -1;
    int timeoutMs = 60000;
    bool connected = false;
    bool peerClosed = false;
    std::string lastError;
    std::mutex fdLock;  // guards fd against Interrupt from another thread
};

}  // namespace BlockSockets
