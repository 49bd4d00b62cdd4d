#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A loopback server that records the exact bytes of every request and answers as a test
// script says. Connections that send nothing (the uploader's reachability probes) are
// recorded as having no requests.
class RecordingServer {
public:
    struct Request {
        int connection;  // 0-based, in order of acceptance
        std::string head;  // up to and including the empty line
        std::string body;
    };

    // What to do with a request, by its 0-based number.
    struct Answer {
        std::vector<std::string> pieces;  // sent with a short pause between them
        bool silent = false;             // never answer; wait until the client goes away
        bool closeMidBody = false;       // close after reading part of the body, no answer
    };
    using Script = std::function<Answer(int index, const Request &request)>;

    static Answer Reply(int status, const std::string &body);

    explicit RecordingServer(Script script);
    ~RecordingServer();

    int Port() const { return port; }
    std::string Url(const std::string &path) const;
    std::vector<Request> Requests() const;
    int Connections() const { return accepted.load(); }

private:
    void AcceptLoop();
    void Serve(int fd, int connection);

    Script script;
    int listenFd = -1;
    int port = 0;
    std::atomic<bool> stopping{false};
    std::atomic<int> accepted{0};
    mutable std::mutex lock;
    std::vector<Request> requests;
    std::vector<int> openFds;
    std::vector<std::thread> threads;
    std::thread acceptThread;
};
