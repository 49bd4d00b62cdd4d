// Uploads a 256 MiB file to platform-stub on loopback with the program's uploader, next to
// curl posting the same 1 MiB multipart chunks to the same servlet, and compares throughput
// and the uploader's peak memory. Each side runs as its own process (wall time and peak
// resident size from wait4); the best of three rounds counts for each.

#include "PlatformStubProcess.h"
#include "platform/OrinHttpClients.h"

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <string>
#include <vector>

extern char **environ;

namespace fs = std::filesystem;
using OrinHttpClients::ChunkSize;

namespace {

constexpr int64_t FileSize = 256 * ChunkSize;
constexpr int Rounds = 3;
constexpr double ThroughputGoal = 0.9;
constexpr double MemoryGoalMiB = 16;

struct Run {
    bool ok = false;
    double seconds = 0;
    double peakMiB = 0;
};

Run RunProcess(std::vector<std::string> arguments)
{
    std::vector<char *> argv;
    for (auto &argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        return {};
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    Run run;
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.peakMiB = double(usage.ru_maxrss) / 1024.0;
    run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return run;
}

// The child side: one upload with the program's uploader, nothing else in the process.
int UploadChild(const std::string &url, const std::string &file)
{
    OrinHttpClients::THttpClient client;
    OrinHttpClients::TUploadTiming timing;
    timing.maxRetriesPerChunk = 1;
    client.SetTiming(timing);
    const std::string result = client.UploadFile(url, file);
    if (client.LastOutcome().status != OrinHttpClients::TUploadStatus::Done || client.FailedAttempts() != 0) {
        std::cerr << "upload failed: " << result << "\n";
        return 1;
    }
    return 0;
}

bool SameContent(const fs::path &a, const fs::path &b)
{
    std::ifstream x(a, std::ios::binary), y(b, std::ios::binary);
    std::vector<char> p(1 << 20), q(1 << 20);
    while (x && y) {
        x.read(p.data(), std::streamsize(p.size()));
        y.read(q.data(), std::streamsize(q.size()));
        if (x.gcount() != y.gcount() || std::memcmp(p.data(), q.data(), size_t(x.gcount())) != 0)
            return false;
    }
    return x.eof() && y.eof();
}

// The stored file of the one upload in the stub's folder; removed after the check.
bool CheckAndRemoveStored(const fs::path &uploads, const fs::path &original)
{
    bool ok = false;
    for (const auto &entry : fs::directory_iterator(uploads)) {
        ok = entry.path().extension() != ".part" && SameContent(entry.path(), original);
        fs::remove(entry.path());
    }
    return ok;
}

std::string CurlConfig(const fs::path &folder, const std::string &baseUrl, const std::string &key)
{
    std::string config;
    const std::string cookie = std::string("Cookie: JSESSIONID=") + key + "; PrivateKey=" + OrinHttpClients::PrivateKey;
    for (int64_t i = 0; i < OrinHttpClients::ChunkCount(FileSize); ++i) {
        const OrinHttpClients::TChunk chunk = OrinHttpClients::ChunkAt(FileSize, i);
        const fs::path data = chunk.length == 0 ? folder / "empty" : folder / ("chunk" + std::to_string(i));
        if (i > 0)
            config += "next\n";
        config += "url = \"" + baseUrl + OrinHttpClients::RequestTarget("/servlet/SingleUpload", chunk, key + "curl.mp4", FileSize) + "\"\n";
        config += "form = \"file1=@" + data.string() + ";type=application/octet-stream;filename=xxxxxxxxxxxxxxx.avi\"\n";
        config += "header = \"" + cookie + "\"\nheader = \"Expect:\"\nfail\nsilent\nshow-error\noutput = /dev/null\n";
    }
    return config;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc == 4 && std::string(argv[1]) == "--upload-child")
        return UploadChild(argv[2], argv[3]);

    const fs::path base = fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
    std::string pattern = (base / "bench-upload-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
        std::cerr << "cannot create a work folder under " << base << "\n";
        return 1;
    }
    const fs::path folder = pattern;
    struct Cleanup {
        fs::path path;
        ~Cleanup() { fs::remove_all(path); }
    } cleanup{folder};

    // The file and the same bytes cut into the chunks curl posts.
    const fs::path file = folder / "lesson.mp4";
    {
        std::ofstream whole(file, std::ios::binary);
        std::mt19937_64 generator(7);
        std::vector<uint64_t> block(ChunkSize / 8);
        for (int64_t i = 0; i < FileSize / ChunkSize; ++i) {
            for (auto &word : block)
                word = generator();
            const auto *bytes = reinterpret_cast<const char *>(block.data());
            whole.write(bytes, ChunkSize);
            std::ofstream(folder / ("chunk" + std::to_string(i)), std::ios::binary).write(bytes, ChunkSize);
        }
        std::ofstream(folder / "empty", std::ios::binary);
    }

    const fs::path stubFolder = folder / "stub";
    fs::create_directories(stubFolder);
    PlatformStubProcess stub({}, stubFolder.string());
    const std::string self = fs::canonical("/proc/self/exe").string();

    Run bestOwn, bestCurl;
    bestOwn.seconds = bestCurl.seconds = 1e9;
    for (int round = 0; round < Rounds; ++round) {
        const Run own = RunProcess({self, "--upload-child", stub.BaseUrl() + "/servlet/SingleUpload", file.string()});
        if (!own.ok || !CheckAndRemoveStored(stubFolder / "uploads", file)) {
            std::cerr << "the uploader's upload failed or stored other bytes\n";
            return 1;
        }
        const fs::path config = folder / "curl.config";
        std::ofstream(config) << CurlConfig(folder, stub.BaseUrl(), OrinHttpClients::RandomKey());
        const Run curl = RunProcess({"curl", "--config", config.string()});
        if (!curl.ok || !CheckAndRemoveStored(stubFolder / "uploads", file)) {
            std::cerr << "curl's upload failed or stored other bytes\n";
            return 1;
        }
        std::printf("round %d: uploader %.3f s (%.1f MiB peak), curl %.3f s (%.1f MiB peak)\n", round + 1,
                    own.seconds, own.peakMiB, curl.seconds, curl.peakMiB);
        if (own.seconds < bestOwn.seconds)
            bestOwn.seconds = own.seconds;
        if (curl.seconds < bestCurl.seconds)
            bestCurl.seconds = curl.seconds;
        bestOwn.peakMiB = std::max(bestOwn.peakMiB, own.peakMiB);
        bestCurl.peakMiB = std::max(bestCurl.peakMiB, curl.peakMiB);
    }
    const double mib = double(FileSize) / double(ChunkSize);
    std::printf("uploader %.0f MiB/s, curl %.0f MiB/s; peak resident size: uploader %.1f MiB, curl %.1f MiB\n",
                mib / bestOwn.seconds, mib / bestCurl.seconds, bestOwn.peakMiB, bestCurl.peakMiB);
    std::printf("BENCH upload_256mib_loopback_throughput_vs_curl %.2f >= %.1f\n", bestCurl.seconds / bestOwn.seconds,
                ThroughputGoal);
    std::printf("BENCH upload_256mib_uploader_peak_rss_mib %.1f <= %.0f\n", bestOwn.peakMiB, MemoryGoalMiB);
    return 0;
}
