#include "tests/support/PulseTestServer.h"

#include <array>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace sc::test {
namespace {

bool socketAnswers(const std::string &path) {
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    bool connected = ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

std::string readFile(const std::string &path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace

PulseTestServer::PulseTestServer() {
    char pattern[] = "/tmp/sc-pulse-XXXXXX";
    if (!mkdtemp(pattern))
        throw std::runtime_error(std::string("PulseTestServer: mkdtemp: ") + std::strerror(errno));
    folder_ = pattern;
    const std::string runtime = folder_ + "/run", state = folder_ + "/state";
    std::filesystem::create_directories(runtime);
    std::filesystem::create_directories(state);
    const std::string socket = runtime + "/native";
    address_ = "unix:" + socket;

    // The protocol module comes last: once the socket answers, every source exists.
    std::ofstream script(folder_ + "/test.pa");
    script << ".fail\n"
           << "load-module module-null-sink sink_name=test_sink rate=48000 channels=2\n"
           << "load-module module-sine-source source_name=test_sine rate=48000 frequency=440 "
              "source_properties=\"device.description='Test Sine Microphone'\"\n"
           << "load-module module-null-source source_name=test_quiet channels=2 rate=44100 "
              "description=\"Quiet Line In\"\n"
           << "set-default-sink test_sink\n"
           << "set-default-source test_sine\n"
           << "load-module module-native-protocol-unix auth-anonymous=1 socket=" << socket << "\n";
    script.close();

    const std::string logFile = folder_ + "/pulse.log";
    pid_ = fork();
    if (pid_ == 0) {
        setenv("PULSE_RUNTIME_PATH", runtime.c_str(), 1);
        setenv("PULSE_STATE_PATH", state.c_str(), 1);
        setenv("HOME", folder_.c_str(), 1);
        std::string scriptArg = folder_ + "/test.pa", logArg = "--log-target=file:" + logFile;
        freopen("/dev/null", "r", stdin);
        execlp("pulseaudio", "pulseaudio", "-n", "-F", scriptArg.c_str(), "--daemonize=no",
               "--exit-idle-time=-1", "--disallow-exit", "--use-pid-file=no", logArg.c_str(),
               static_cast<char *>(nullptr));
        _exit(127);
    }
    if (pid_ < 0)
        throw std::runtime_error(std::string("PulseTestServer: fork: ") + std::strerror(errno));

    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!socketAnswers(socket)) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_ || std::chrono::steady_clock::now() > deadline) {
            pid_ = -1;
            std::string log = readFile(logFile);
            kill();
            std::filesystem::remove_all(folder_);
            throw std::runtime_error("PulseTestServer: the daemon did not start; its log:\n" + log);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (const char *previous = std::getenv("PULSE_SERVER")) {
        hadServer_ = true;
        savedServer_ = previous;
    }
    setenv("PULSE_SERVER", address_.c_str(), 1);
    setenv("PULSE_COOKIE", (folder_ + "/cookie").c_str(), 1);
}

PulseTestServer::~PulseTestServer() {
    kill();
    if (hadServer_)
        setenv("PULSE_SERVER", savedServer_.c_str(), 1);
    else
        unsetenv("PULSE_SERVER");
    unsetenv("PULSE_COOKIE");
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
}

void PulseTestServer::kill() {
    if (pid_ <= 0)
        return;
    ::kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
}

std::string PulseTestServer::pactl(const std::string &arguments) const {
    std::string command = "PULSE_SERVER='" + address_ + "' PULSE_COOKIE='" + folder_ +
                          "/cookie' pactl " + arguments + " 2>&1";
    FILE *pipe = popen(command.c_str(), "r");
    if (!pipe)
        throw std::runtime_error("PulseTestServer: cannot run " + command);
    std::string output;
    std::array<char, 512> chunk;
    while (size_t got = fread(chunk.data(), 1, chunk.size(), pipe))
        output.append(chunk.data(), got);
    if (pclose(pipe) != 0)
        throw std::runtime_error("PulseTestServer: `pactl " + arguments + "` failed: " + output);
    return output;
}

int PulseTestServer::sourceVolumePercent(const std::string &source) const {
    std::string output = pactl("get-source-volume " + source);
    // "Volume: front-left: 32768 /  50% / -18.06 dB,   front-right: ...": the numbers before '%'.
    int total = 0, channels = 0;
    for (size_t percent = output.find('%'); percent != std::string::npos; percent = output.find('%', percent + 1)) {
        size_t first = percent;
        while (first > 0 && std::isdigit(static_cast<unsigned char>(output[first - 1])))
            --first;
        if (first == percent)
            continue;
        total += std::stoi(output.substr(first, percent - first));
        ++channels;
    }
    if (channels == 0)
        throw std::runtime_error("PulseTestServer: no volume in: " + output);
    return (total + channels / 2) / channels;
}

} // namespace sc::test
