// studiocast-record from the command line: refused options, a recording with sound and its
// figures, a missing microphone, and a run killed in the middle of a recording.

#include "MediaProbe.h"
#include "tests/support/PulseTestServer.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Result {
    int status = -1;  // exit status, or -signal
    std::string lastLine;
};

class Recorder {
public:
    explicit Recorder(std::vector<std::string> arguments) {
        output_ = std::filesystem::temp_directory_path() / ("tst_studiocast_record-" + std::to_string(getpid()) + "-" +
                                                            std::to_string(counter_++) + ".txt");
        pid_ = fork();
        if (pid_ == 0) {
            if (!std::freopen(output_.c_str(), "w", stdout)) _exit(126);
            std::vector<char *> argv{const_cast<char *>(STUDIOCAST_RECORD)};
            for (std::string &a : arguments) argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
    }
    void Kill() { kill(pid_, SIGKILL); }
    Result Wait() {
        Result result;
        int status = 0;
        waitpid(pid_, &status, 0);
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
        std::ifstream file(output_);
        for (std::string line; std::getline(file, line);)
            if (!line.empty()) result.lastLine = line;
        std::filesystem::remove(output_);
        return result;
    }

private:
    static inline int counter_ = 0;
    pid_t pid_ = -1;
    std::filesystem::path output_;
};

std::string OutPath(const std::string &name) {
    const auto folder = std::filesystem::temp_directory_path() / ("tst_studiocast_record-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    return (folder / name).string();
}

}  // namespace

TEST(StudiocastRecord, RefusesIncompleteOrInvalidOptions) {
    const std::string out = OutPath("never.mp4");
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"--seconds", "2", "--size", "640x480", "--layout", "4"},
        {"--seconds", "2", "--size", "640x480", "--layout", "7", "--out", out},
        {"--seconds", "0", "--size", "640x480", "--layout", "1", "--out", out},
        {"--seconds", "2", "--size", "641x480", "--layout", "1", "--out", out},
        {"--seconds", "2", "--size", "640", "--layout", "1", "--out", out},
        {"--seconds", "2", "--size", "640x480", "--layout", "1", "--out", out, "--colour", "red"},
    };
    for (const auto &arguments : cases) {
        std::string joined;
        for (const auto &a : arguments) joined += a + " ";
        EXPECT_EQ(Recorder(arguments).Wait().status, 2) << joined;
    }
    EXPECT_FALSE(std::filesystem::exists(out));
}

TEST(StudiocastRecord, RecordsALessonWithSoundAndPrintsItsFigures) {
    sc::test::PulseTestServer server;
    const std::string out = OutPath("lesson.mp4");
    const Result result = Recorder({"--seconds", "3", "--size", "320x240", "--layout", "5", "--mic", "test_sine",
                                    "--out", out})
                              .Wait();
    ASSERT_EQ(result.status, 0) << result.lastLine;
    const std::regex figures(
        R"(frames composed (\d+), frames encoded (\d+), frames dropped (\d+), audio seconds ([\d.]+), CPU seconds ([\d.]+), wall seconds ([\d.]+))");
    std::smatch m;
    ASSERT_TRUE(std::regex_match(result.lastLine, m, figures)) << result.lastLine;
    const int composed = std::stoi(m[1]), encoded = std::stoi(m[2]), dropped = std::stoi(m[3]);
    EXPECT_GE(composed, 50);
    // A small picture keeps up: at most a few frames of the 3 seconds are lost to the encoder.
    EXPECT_LE(encoded, composed);
    EXPECT_GE(encoded * 5, composed * 4);
    EXPECT_EQ(dropped, composed - encoded);
    EXPECT_NEAR(std::stod(m[4]), 3.0, 0.3);
    EXPECT_GT(std::stod(m[5]), 0.0);
    EXPECT_GE(std::stod(m[6]), 3.0);

    const auto info = testmedia::ffprobe(out, "-count_frames -show_streams");
    ASSERT_EQ(info["streams"].size(), 2u);
    EXPECT_EQ(info["streams"][0]["codec_name"], "h264");
    EXPECT_EQ(info["streams"][0]["width"], 320);
    EXPECT_EQ(info["streams"][0]["nb_read_frames"], std::to_string(encoded));
    EXPECT_EQ(info["streams"][1]["codec_name"], "aac");
}

TEST(StudiocastRecord, AMissingMicrophoneEndsTheRun) {
    sc::test::PulseTestServer server;
    const Result result = Recorder({"--seconds", "1", "--size", "320x240", "--layout", "1", "--mic",
                                    "no-such-input", "--out", OutPath("nomic.mp4")})
                              .Wait();
    EXPECT_EQ(result.status, 1);
}

TEST(StudiocastRecord, AKilledRecordingLeavesAPlayableFile) {
    const std::string out = OutPath("killed.mp4");
    Recorder recorder({"--seconds", "60", "--size", "320x240", "--layout", "4", "--out", out});
    // Wait until the file has grown past its first fragments, then kill without warning.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < deadline &&
           (!std::filesystem::exists(out) || std::filesystem::file_size(out) < 60000))
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    recorder.Kill();
    EXPECT_EQ(recorder.Wait().status, -SIGKILL);
    const auto info = testmedia::ffprobe(out, "-count_frames -show_streams");
    ASSERT_EQ(info["streams"].size(), 1u) << out;
    EXPECT_EQ(info["streams"][0]["codec_name"], "h264");
    EXPECT_GE(std::stoi(info["streams"][0]["nb_read_frames"].get<std::string>()), 20);
}
