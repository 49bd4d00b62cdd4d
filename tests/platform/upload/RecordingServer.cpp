#include "RecordingServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

namespace {

bool ReadMore(int fd, std::string &buffer, const std::atomic<bool> &stopping)
{
    char piece[65536];
    while (!stopping.load()) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0)
            continue;
        const ssize_t n = recv(fd, piece, sizeof piece, 0);
        if (n <= 0)
            return false;
        buffer.append(piece, size_t(n));
        return true;
    }
    return false;
}

}  // namespace

RecordingServer::Answer RecordingServer::Reply(int status, const std::string &body)
{
    Answer answer;
    answer.pieces.push_back("HTTP/1.1 " + std::to_string(status) + " X\r\nContent-Type: text/plain\r\nContent-Length: " +
                            std::to_string(body.size()) + "\r\n\r\n" + body);
    return answer;
}

RecordingServer::RecordingServer(Script script) : script(std::move(script))
{
    listenFd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listenFd < 0 || bind(listenFd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        listen(listenFd, 64) != 0 || getsockname(listenFd, reinterpret_cast<sockaddr *>(&address), &length) != 0)
        throw std::runtime_error("recording server cannot listen");
    port = ntohs(address.sin_port);
    acceptThread = std::thread([this] { AcceptLoop(); });
}

RecordingServer::~RecordingServer()
{
    stopping.store(true);
    acceptThread.join();
    for (auto &thread : threads)
        thread.join();
    close(listenFd);
}

std::string RecordingServer::Url(const std::string &path) const
{
    return "http://127.0.0.1:" + std::to_string(port) + path;
}

std::vector<RecordingServer::Request> RecordingServer::Requests() const
{
    std::lock_guard guard(lock);
    return requests;
}

void RecordingServer::AcceptLoop()
{
    while (!stopping.load()) {
        pollfd p{listenFd, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0)
            continue;
        const int fd = accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        const int connection = accepted.fetch_add(1);
        threads.emplace_back([this, fd, connection] {
            Serve(fd, connection);
            close(fd);
        });
    }
}

void RecordingServer::Serve(int fd, int connection)
{
    std::string buffer;
    for (;;) {
        size_t headEnd;
        while ((headEnd = buffer.find("\r\n\r\n")) == std::string::npos)
            if (!ReadMore(fd, buffer, stopping))
                return;
        Request request{connection, buffer.substr(0, headEnd + 4), {}};
        buffer.erase(0, headEnd + 4);
        size_t length = 0;
        const size_t at = request.head.find("Content-Length: ");
        if (at != std::string::npos)
            length = std::stoul(request.head.substr(at + 16));
        int index;
        {
            std::lock_guard guard(lock);
            index = int(requests.size());
            requests.push_back(request);
        }
        const Answer answer = script(index, request);
        if (answer.closeMidBody) {
            while (buffer.size() < length / 2)
                if (!ReadMore(fd, buffer, stopping))
                    return;
            return;
        }
        while (buffer.size() < length)
            if (!ReadMore(fd, buffer, stopping))
                return;
        {
            std::lock_guard guard(lock);
            requests[size_t(index)].body = buffer.substr(0, length);
        }
        buffer.erase(0, length);
        if (answer.silent) {
            while (ReadMore(fd, buffer, stopping)) {
            }
            return;
        }
        for (size_t i = 0; i < answer.pieces.size(); ++i) {
            if (i > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(30));
            send(fd, answer.pieces[i].data(), answer.pieces[i].size(), MSG_NOSIGNAL);
        }
    }
}
