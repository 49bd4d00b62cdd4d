#include "compat/dshow/pulse/PulseClient.h"
#include "tests/support/PulseTestServer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

using namespace sc;

TEST(PulseClient, ListsInputsWithoutMonitors) {
    test::PulseTestServer server;
    auto client = pulse::PulseClient::connect();
    auto sources = client->inputSources();
    ASSERT_EQ(sources.size(), 2u);
    EXPECT_EQ(sources[0].name, "test_sine");
    EXPECT_EQ(sources[0].description, "Test Sine Microphone");
    EXPECT_EQ(sources[1].name, "test_quiet");
    EXPECT_EQ(sources[1].description, "Quiet Line In");
    EXPECT_EQ(sources[1].channels, 2);
    // The daemon does have the sink's monitor: the list leaves it out on purpose.
    EXPECT_NE(server.pactl("list short sources").find("test_sink.monitor"), std::string::npos);
}

TEST(PulseClient, VolumeIsTheDaemonsSourceVolume) {
    test::PulseTestServer server;
    auto client = pulse::PulseClient::connect();
    struct Case {
        double set;
        int daemonPercent;
    };
    for (Case c : {Case{0.5, 50}, Case{0.01, 1}, Case{1.01, 100}, Case{0.0, 0}}) {
        client->setSourceVolume("test_sine", c.set);
        EXPECT_EQ(server.sourceVolumePercent("test_sine"), c.daemonPercent) << "set " << c.set;
    }
    server.pactl("set-source-volume test_quiet 25%");
    EXPECT_NEAR(client->sourceVolume("test_quiet"), 0.25, 0.001);
    EXPECT_THROW(client->sourceVolume("no_such_input"), pulse::PulseError);

    client->setSourceMuted("test_quiet", true);
    EXPECT_NE(server.pactl("get-source-mute test_quiet").find("yes"), std::string::npos);
    EXPECT_TRUE(client->sourceMuted("test_quiet"));
}

TEST(PulseClient, RecordsTheSineContinuouslyAtItsLevelInEachFormat) {
    test::PulseTestServer server;
    auto client = pulse::PulseClient::connect();
    struct Case {
        const char *name;
        pulse::StreamFormat format;
        size_t chunkBytes;
    };
    // The capture filter's format, and the level meter's 8 kHz 8-bit mono.
    const Case cases[] = {{"44100 Hz 16-bit stereo", {44100, 2, false}, 4408},
                          {"8000 Hz 8-bit mono", {8000, 1, true}, 1600}};
    for (const Case &c : cases) {
        auto stream = client->record("test_sine", static_cast<uint32_t>(c.chunkBytes), c.format);
        const size_t frameBytes = c.format.bytesPerFrame();
        std::vector<uint8_t> chunk(c.chunkBytes);
        std::vector<double> values;  // in full scale
        uint64_t expectedFrame = 0;
        const size_t chunks = c.format.rate * frameBytes * 2 / c.chunkBytes;  // 2 s
        for (size_t i = 0; i < chunks; ++i) {
            auto got = stream->read(chunk.data(), chunk.size());
            ASSERT_EQ(got.bytes, c.chunkBytes) << c.name << ": " << stream->failure();
            EXPECT_EQ(got.firstFrame, expectedFrame) << c.name;
            expectedFrame += c.chunkBytes / frameBytes;
            if (i < chunks / 4)
                continue;  // past the start-up ramp
            if (c.format.eightBit) {
                for (uint8_t v : chunk)
                    values.push_back((v - 128) / 128.0);
            } else {
                auto *pcm = reinterpret_cast<const int16_t *>(chunk.data());
                for (size_t k = 0; k < c.chunkBytes / 2; ++k)
                    values.push_back(pcm[k] / 32768.0);
            }
        }
        double sum = 0, peak = 0;
        for (double v : values) {
            sum += v * v;
            peak = std::max(peak, std::abs(v));
        }
        // A sine of amplitude 0.5: RMS 0.354 (-9 dBFS), peak 0.5 (64 steps of 8-bit sound).
        EXPECT_NEAR(std::sqrt(sum / values.size()), 0.3536, 0.02) << c.name;
        EXPECT_NEAR(peak, 0.5, 0.03) << c.name;
    }
}

TEST(PulseClient, ServerThatGoesAwayEndsARecordingWithoutHanging) {
    test::PulseTestServer server;
    auto client = pulse::PulseClient::connect();
    auto stream = client->record("test_sine", 4408);
    std::vector<uint8_t> chunk(4408);
    ASSERT_EQ(stream->read(chunk.data(), chunk.size()).bytes, chunk.size());
    server.kill();
    while (stream->read(chunk.data(), chunk.size()).bytes == chunk.size()) {
    }
    EXPECT_FALSE(stream->failure().empty());
    EXPECT_THROW(client->inputSources(), pulse::PulseError);
}

TEST(PulseClient, NoServerFailsFastInsteadOfHanging) {
    char folder[] = "/tmp/sc-noserver-XXXXXX";
    ASSERT_TRUE(mkdtemp(folder));
    const std::string missing = std::string(folder) + "/missing";
    const std::string silent = std::string(folder) + "/silent";
    // A socket that accepts connections but never answers, as a hung server would.
    int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", silent.c_str());
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 4), 0);

    for (const std::string &path : {missing, silent}) {
        setenv("PULSE_SERVER", ("unix:" + path).c_str(), 1);
        auto started = std::chrono::steady_clock::now();
        EXPECT_THROW(pulse::PulseClient::connect(std::chrono::milliseconds(300)), pulse::PulseError) << path;
        // Bounded by the timeout, not by the server.
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30)) << path;
    }
    unsetenv("PULSE_SERVER");
    ::close(listener);
    std::filesystem::remove_all(folder);
}
