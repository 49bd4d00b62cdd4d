#include "MediaProbe.h"
#include "Mp4Api.h"
#include "TestMedia.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <filesystem>
#include <thread>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using testmedia::ffprobe;

namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 240;
constexpr int kFrames = 200; // 10 s at 50 ms per frame
constexpr int kSampleRate = 44100;

class TempDir {
public:
    TempDir()
    {
        char pattern[] = "/tmp/tst_mp4_XXXXXX";
        path_ = mkdtemp(pattern);
    }
    ~TempDir() { fs::remove_all(path_); }
    fs::path operator/(const std::string& name) const { return path_ / fs::u8path(name); }

private:
    fs::path path_;
};

std::u16string utf16(const fs::path& p)
{
    return p.u16string();
}

struct Media {
    std::vector<testmedia::Sample> video = testmedia::h264Frames(kWidth, kHeight, kFrames);
    testmedia::AacStream audio = testmedia::aacTone(kSampleRate, 2, 10.0);
};

const Media& media()
{
    static const Media m;
    return m;
}

Mp4Params paramsFor(bool withAudio)
{
    Mp4Params p{};
    p.recordSize = sizeof(Mp4Params);
    p.videoPresent = 1;
    p.videoFormat = kMp4VideoFormatH264;
    p.width = kWidth;
    p.height = kHeight;
    p.videoConstant16 = 24;
    p.frameRate = 20;
    p.videoBitRate = 500000;
    if (withAudio) {
        p.audioPresent = 1;
        p.audioConstant40 = 1;
        p.audioConstant44 = 2;
        p.audioBitRate = 64000;
        p.audioSampleRate = kSampleRate;
        p.decoderConfigLength = static_cast<uint32_t>(media().audio.audioSpecificConfig.size());
        p.decoderConfigAddress = reinterpret_cast<uintptr_t>(media().audio.audioSpecificConfig.data());
    }
    return p;
}

// Writes the samples with the recording's stamps: audio from the capture clock starting at
// 157, video at 500160 + 500000 per frame after the first audio sample (0 without audio).
// One audio sample repeats its predecessor's stamp, as a sample without a start time does.
int writeRecording(uint32_t handle, bool withAudio)
{
    int failures = 0;
    const auto& audio = media().audio.frames;
    size_t nextAudio = 0;
    auto audioStamp = [](size_t k) {
        return k == 0 ? int64_t{157} : static_cast<int64_t>(k * 1024 * 10'000'000LL / kSampleRate);
    };
    for (int v = 0; v < kFrames; ++v) {
        const int64_t videoTime = withAudio ? 500160 + int64_t{500000} * v : int64_t{500000} * v;
        while (withAudio && nextAudio < audio.size() && audioStamp(nextAudio) <= videoTime) {
            const size_t stampOf = nextAudio == 100 ? 99 : nextAudio;
            const auto& a = audio[nextAudio++];
            failures += MP4_WriteSample(handle, 1, audioStamp(stampOf), a.bytes.data(),
                                        static_cast<uint32_t>(a.bytes.size()), 1) != Mp4Ok;
        }
        const auto& s = media().video[v];
        failures += MP4_WriteSample(handle, 0, videoTime, s.bytes.data(),
                                    static_cast<uint32_t>(s.bytes.size()), s.key) != Mp4Ok;
    }
    return failures;
}

int streamInt(const nlohmann::json& stream, const char* key)
{
    return std::stoi(stream.at(key).get<std::string>());
}

} // namespace

class Mp4Recording : public ::testing::TestWithParam<bool> {};

TEST_P(Mp4Recording, StoppedFileIsPlainSeekableMp4WithEverySample)
{
    const bool withAudio = GetParam();
    TempDir dir;
    const fs::path path = dir / "录像 260101120000.mp4";
    const Mp4Params params = paramsFor(withAudio);
    uint32_t handle = 0;
    ASSERT_EQ(MP4_Start(utf16(path).c_str(), &params, &handle), Mp4Ok) << mp4::lastError();
    ASSERT_NE(handle, 0u);
    EXPECT_EQ(writeRecording(handle, withAudio), 0) << mp4::lastError();
    MP4_Stop(handle);
    EXPECT_EQ(mp4::lastError(), "");

    const auto boxes = testmedia::topLevelBoxes(path);
    ASSERT_GE(boxes.size(), 3u);
    EXPECT_EQ(boxes[0], "ftyp");
    const auto moov = std::find(boxes.begin(), boxes.end(), "moov");
    EXPECT_LT(moov, std::find(boxes.begin(), boxes.end(), "mdat")) << "index before the media";
    EXPECT_EQ(std::find(boxes.begin(), boxes.end(), "moof"), boxes.end()) << "no fragments left";

    const auto info = ffprobe(path, "-show_streams -show_format");
    ASSERT_TRUE(info.contains("streams"));
    const auto& streams = info["streams"];
    ASSERT_EQ(streams.size(), withAudio ? 2u : 1u);
    const auto& video = streams[0];
    EXPECT_EQ(video["codec_name"], "h264");
    EXPECT_EQ(video["width"], kWidth);
    EXPECT_EQ(video["height"], kHeight);
    EXPECT_EQ(streamInt(video, "nb_frames"), kFrames);
    EXPECT_NEAR(std::stod(video["start_time"].get<std::string>()), withAudio ? 0.050016 : 0.0, 1e-3);
    if (withAudio) {
        const auto& audio = streams[1];
        EXPECT_EQ(audio["codec_name"], "aac");
        EXPECT_EQ(audio["sample_rate"], std::to_string(kSampleRate));
        EXPECT_EQ(audio["channels"], 2);
        // Every sample written, including the one that repeated its predecessor's stamp.
        const int audioWritten = static_cast<int>(
            std::min(media().audio.frames.size(), size_t((10.0 + 0.05) * kSampleRate / 1024 + 1)));
        EXPECT_NEAR(streamInt(audio, "nb_frames"), audioWritten, 1);
    }
    EXPECT_EQ(std::stoull(info["format"]["size"].get<std::string>()), fs::file_size(path));
    EXPECT_NEAR(std::stod(info["format"]["duration"].get<std::string>()), 10.0, 0.1);

    // Seeking to 5 s lands on the key frame before it (key frames every 2 s).
    const auto seek = ffprobe(path, "-select_streams v:0 -read_intervals 5%+#1 -show_packets "
                                    "-show_entries packet=pts_time,flags");
    ASSERT_EQ(seek["packets"].size(), 1u);
    const double landed = std::stod(seek["packets"][0]["pts_time"].get<std::string>());
    EXPECT_NEAR(landed, (withAudio ? 0.050016 : 0.0) + 4.0, 1e-3);
    EXPECT_EQ(seek["packets"][0]["flags"].get<std::string>().front(), 'K');

    // Every frame decodes.
    const auto decoded = ffprobe(path, "-select_streams v:0 -count_frames -show_entries stream=nb_read_frames");
    EXPECT_EQ(streamInt(decoded["streams"][0], "nb_read_frames"), kFrames);
}

INSTANTIATE_TEST_SUITE_P(AudioAndVideoOrVideoOnly, Mp4Recording, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "WithAudio" : "VideoOnly"; });

TEST(Mp4Writer, KilledWriterLeavesFilePlayableUpToTwoSecondsBeforeTheKill)
{
    media(); // encode before forking: the child only writes
    TempDir dir;
    const fs::path path = dir / "killed.mp4";
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const Mp4Params params = paramsFor(true);
        uint32_t handle = 0;
        if (MP4_Start(utf16(path).c_str(), &params, &handle) != Mp4Ok || writeRecording(handle, true))
            _exit(1);
        const char done = 1;
        (void)!write(ready[1], &done, 1);
        pause();
        _exit(0);
    }
    close(ready[1]);
    char done = 0;
    const bool wroteAll = read(ready[0], &done, 1) == 1;
    close(ready[0]);
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(wroteAll) << "the writer child failed before the kill";

    const auto info = ffprobe(path, "-count_frames -show_streams");
    ASSERT_TRUE(info.contains("streams"));
    ASSERT_EQ(info["streams"].size(), 2u);
    const auto& video = info["streams"][0];
    EXPECT_EQ(video["codec_name"], "h264");
    // 10 s were written before the kill; at most 2 s (40 frames) may be missing.
    EXPECT_GE(streamInt(video, "nb_read_frames"), kFrames - 40);
    EXPECT_GE(streamInt(info["streams"][1], "nb_read_frames"), int((10.0 - 2.0) * kSampleRate / 1024));
}

TEST(Mp4Writer, BadCallsFailWithoutHarm)
{
    TempDir dir;
    const Mp4Params good = paramsFor(false);
    Mp4Params wrongSize = good;
    wrongSize.recordSize = 64;
    uint32_t handle = 0;
    const std::u16string missingFolder = utf16(dir / "missing" / "a.mp4");
    const std::u16string okPath = utf16(dir / "a.mp4");

    struct StartCase {
        const char* name;
        const char16_t* path;
        const Mp4Params* params;
        uint32_t* handle;
        uint8_t expected;
    };
    const StartCase starts[] = {
        {"null path", nullptr, &good, &handle, Mp4BadArgument},
        {"null params", okPath.c_str(), nullptr, &handle, Mp4BadArgument},
        {"null handle", okPath.c_str(), &good, nullptr, Mp4BadArgument},
        {"64-byte record", okPath.c_str(), &wrongSize, &handle, Mp4BadArgument},
        {"missing folder", missingFolder.c_str(), &good, &handle, Mp4IoError},
    };
    for (const auto& c : starts) {
        EXPECT_EQ(MP4_Start(c.path, c.params, c.handle), c.expected) << c.name;
        EXPECT_FALSE(mp4::lastError().empty()) << c.name;
    }

    ASSERT_EQ(MP4_Start(okPath.c_str(), &good, &handle), Mp4Ok);
    const auto& key = media().video[0].bytes;
    const auto& delta = media().video[1].bytes;
    const auto keyLen = static_cast<uint32_t>(key.size());
    struct WriteCase {
        const char* name;
        uint32_t handle;
        uint32_t track;
        const uint8_t* data;
        uint32_t length;
        uint8_t key;
        uint8_t expected;
    };
    const WriteCase writes[] = {
        {"unknown handle", handle + 1000, 0, key.data(), keyLen, 1, Mp4UnknownHandle},
        {"zero length", handle, 0, key.data(), 0, 1, Mp4BadArgument},
        {"null data", handle, 0, nullptr, keyLen, 1, Mp4BadArgument},
        {"track 2", handle, 2, key.data(), keyLen, 1, Mp4BadArgument},
        {"audio without audio track", handle, 1, key.data(), keyLen, 1, Mp4BadArgument},
        {"video before a key frame", handle, 0, delta.data(), uint32_t(delta.size()), 0, Mp4NotWritten},
        {"first key frame", handle, 0, key.data(), keyLen, 1, Mp4Ok},
    };
    for (const auto& c : writes)
        EXPECT_EQ(MP4_WriteSample(c.handle, c.track, 0, c.data, c.length, c.key), c.expected) << c.name;

    MP4_Stop(handle);
    EXPECT_EQ(MP4_WriteSample(handle, 0, 500000, key.data(), keyLen, 1), Mp4UnknownHandle)
        << "closed file";
    MP4_Stop(handle); // a second stop is harmless
    EXPECT_FALSE(mp4::lastError().empty());
    EXPECT_EQ(ffprobe(dir / "a.mp4", "-show_streams")["streams"].size(), 1u);
}

TEST(Mp4Writer, StopWhileAnotherThreadWritesEndsItsWritesCleanly)
{
    TempDir dir;
    const Mp4Params params = paramsFor(false);
    uint32_t handle = 0;
    ASSERT_EQ(MP4_Start(utf16(dir / "race.mp4").c_str(), &params, &handle), Mp4Ok);
    std::atomic<int> written{0};
    uint8_t lastResult = Mp4Ok;
    std::thread writer([&] {
        for (int i = 0; lastResult == Mp4Ok; ++i) {
            const auto& s = media().video[i % kFrames];
            lastResult = MP4_WriteSample(handle, 0, int64_t{500000} * i, s.bytes.data(),
                                         static_cast<uint32_t>(s.bytes.size()), s.key || i == 0);
            written += lastResult == Mp4Ok;
        }
    });
    while (written < 50)
        std::this_thread::yield();
    MP4_Stop(handle);
    writer.join();
    EXPECT_EQ(lastResult, Mp4UnknownHandle);
    const auto info = ffprobe(dir / "race.mp4", "-show_streams");
    ASSERT_EQ(info["streams"].size(), 1u);
    EXPECT_EQ(streamInt(info["streams"][0], "nb_frames"), written.load());
}
