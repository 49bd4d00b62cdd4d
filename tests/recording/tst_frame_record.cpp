// The recording frame: the writer's start parameters, the time stamps of both tracks, and whole
// recordings of a composed synthetic lesson with a microphone on a private sound server, read
// back with ffprobe and ffmpeg.

#include "SyntheticSources.h"

#include "capture/FramePreviews.h"
#include "recording/FrameRecords.h"

#include "MediaProbe.h"
#include "tests/support/PulseTestServer.h"

#include "app/DataModule.h"
#include "app/MessageBox.h"
#include "app/SettingIni.h"
#include "compat/dshow/Uuids.h"

#include <QApplication>
#include <QDir>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <thread>

namespace {

QApplication &App() {
    static int argc = 1;
    static char name[] = "tst_frame_record";
    static char *argv[] = {name, nullptr};
    static QApplication app(argc, argv);
    return app;
}

std::filesystem::path TempFolder() {
    const auto folder = std::filesystem::temp_directory_path() / ("tst_frame_record-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    return folder;
}

// Mean luma of the first decoded picture, or -1 when nothing decodes.
double FirstPictureLuma(const std::string &path) {
    const std::string command =
        "ffmpeg -v error -i '" + path + "' -frames:v 1 -f rawvideo -pix_fmt gray - 2>/dev/null";
    FILE *pipe = popen(command.c_str(), "r");
    if (!pipe) return -1;
    std::vector<uint8_t> bytes(1 << 16);
    double sum = 0;
    size_t count = 0, got;
    while ((got = fread(bytes.data(), 1, bytes.size(), pipe)) > 0) {
        for (size_t i = 0; i < got; ++i) sum += bytes[i];
        count += got;
    }
    pclose(pipe);
    return count ? sum / double(count) : -1;
}

double Seconds(const nlohmann::json &stream, const char *field) {
    return stream.contains(field) ? std::stod(stream[field].get<std::string>()) : -1;
}

}  // namespace

TEST(Mp4Params, FieldsFromTheEncodedTypes) {
    AM_MEDIA_TYPE video = MakeVideoType(MEDIASUBTYPE_H264, 1280, 720, 24);
    AM_MEDIA_TYPE audio = MakePcmAudioType(44100, 2, 16);
    const uint8_t config[2] = {0x12, 0x10};
    WAVEFORMATEX wave = *audio.WaveFormat();
    wave.cbSize = 2;
    std::vector<uint8_t> block(sizeof wave + 2);
    std::memcpy(block.data(), &wave, sizeof wave);
    std::memcpy(block.data() + sizeof wave, config, 2);
    audio.SetFormat(block.data(), ULONG(block.size()));

    const ::Mp4Params with = MakeMp4Params(video, &audio, 20, 1000, 96);
    uint8_t bytes[sizeof with];
    std::memcpy(bytes, &with, sizeof with);
    auto u32 = [&](int at) {
        uint32_t v;
        std::memcpy(&v, bytes + at, 4);
        return v;
    };
    EXPECT_EQ(bytes[0] | bytes[1] << 8, int(sizeof with));
    EXPECT_EQ(bytes[2], 1);
    EXPECT_EQ(u32(4), 0x34363248u);
    EXPECT_EQ(u32(8), 1280u);
    EXPECT_EQ(u32(12), 720u);
    EXPECT_EQ(u32(16), 24u);
    EXPECT_EQ(u32(20), 20u);
    EXPECT_EQ(u32(24), 1000000u);
    EXPECT_EQ(bytes[36], 1);
    EXPECT_EQ(u32(40), 1u);
    EXPECT_EQ(u32(44), 2u);
    EXPECT_EQ(u32(48), 96000u);
    EXPECT_EQ(u32(52), 44100u);
    EXPECT_EQ(u32(56), 2u);
    EXPECT_EQ(std::memcmp(reinterpret_cast<const void *>(uintptr_t(with.decoderConfigAddress)), config, 2), 0);

    const ::Mp4Params without = MakeMp4Params(video, nullptr, 15, 800, 96);
    std::memcpy(bytes, &without, sizeof without);
    EXPECT_EQ(u32(20), 15u);
    EXPECT_EQ(u32(24), 800000u);
    for (size_t at = 36; at < sizeof without; ++at) EXPECT_EQ(bytes[at], 0) << "byte " << at;
    EXPECT_EQ(AudioBufferBytes, 4408) << "whole 4-byte sample frames";
}

TEST(RecordTimeline, StampsOfBothTracks) {
    // Each step: 'a' audio sample with a start time (or -1: none), 'v'/'k' video non-key/key;
    // the expected stamp, -1 for a dropped sample.
    struct Step {
        char kind;
        int64_t start;
        int64_t expected;
    };
    struct Case {
        const char *name;
        bool withAudio;
        std::vector<Step> steps;
    };
    const Case cases[] = {
        {"video waits for the first audio sample",
         true,
         {{'k', 0, -1}, {'v', 0, -1}, {'a', 9000000, 157}, {'k', 0, 500160}, {'v', 0, 1000160},
          {'a', 9232200, 232200}, {'a', -1, 232201}, {'v', 0, 1500160}}},
        {"without audio video starts at 0",
         false,
         {{'k', 0, 0}, {'v', 0, 500000}, {'v', 0, 1000000}}},
        {"a file starts at a key frame, in step",
         false,
         {{'v', 0, -1}, {'v', 0, -1}, {'k', 0, 1000000}, {'v', 0, 1500000}}},
        {"with audio, non-key pictures before the first key frame",
         true,
         {{'a', 500, 157}, {'v', 0, -1}, {'k', 0, 1000160}}},
    };
    for (const Case &c : cases) {
        TRecordTimeline timeline;
        timeline.Reset(c.withAudio);
        for (size_t i = 0; i < c.steps.size(); ++i) {
            const Step &s = c.steps[i];
            int64_t got;
            if (s.kind == 'a') {
                got = timeline.NextAudio(s.start < 0 ? std::nullopt : std::optional<int64_t>(s.start));
            } else {
                got = timeline.NextVideo(s.kind == 'k').value_or(-1);
            }
            EXPECT_EQ(got, s.expected) << c.name << ", step " << i;
        }
    }
}

// A running preview of synthetic sources, as the headless recorder builds it, and the settings.
class RecordingRig : public ::testing::Test {
protected:
    void SetUp() override {
        App();
        settingsFolder = TempFolder();
        settings = std::make_unique<TSettingIni>(QString::fromStdString((settingsFolder / "Setting.ini").string()),
                                                 QString::fromStdString(settingsFolder.string()) + "/");
        settings->VideoWidth = 640;
        settings->VideoHeight = 480;
        SettingIni = settings.get();
        SetMessageBoxPresenter([this](const QString &text, const QString &) { messages << text; });
    }
    void TearDown() override {
        preview.SetOnSample(nullptr);
        for (TSyntheticSource *source : {&camera1, &slides}) source->Stop();
        preview.StopPreview();
        preview.CloseMainPush();
        SetMessageBoxPresenter(nullptr);
        SettingIni = nullptr;
        std::filesystem::remove_all(settingsFolder);
    }
    void StartPreview(int mode) {
        preview.SetFrameSize(640, 480);
        preview.OpenMainPush();
        camera1.Start([this](TSampleGrabberEx *g, IMediaSample *s, double t) { preview.Cam1Sample(g, s, t); });
        slides.Start([this](TSampleGrabberEx *g, IMediaSample *s, double t) { preview.PresentationSample(g, s, t); });
        preview.Camera1MediaType = camera1.MediaType();
        preview.PresentationMediaType = slides.MediaType();
        preview.PenBoardEnabled = false;
        ASSERT_TRUE(preview.BuildPreview(true, false, mode));
        preview.GetConnectedMediaType(record.VideoMediaType);
        preview.SetOnSample([this](TSampleGrabberEx *g, IMediaSample *s, double t) {
            ++previewFrames;
            record.FrameSample(g, s, t);
        });
        // Until a source's first picture arrives the switcher shows black for it: start
        // recording once the sources' pictures are in the composed output, as a user would.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (previewFrames < 10 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_GE(previewFrames, 10) << "the preview composes";
    }
    // The number (from 1) of the sound input named like the test server's sine source.
    int SineInput() {
        TSysDevEnum inputs(CLSID_AudioInputDeviceCategory);
        for (int i = 0; i < inputs.CountFilters(); ++i)
            if (inputs.DisplayName(i).find("test_sine") != std::string::npos ||
                inputs.FriendlyName(i).find("test_sine") != std::string::npos)
                return i + 1;
        return 0;
    }
    std::string Path(const std::string &name) { return (settingsFolder / name).string(); }

    std::filesystem::path settingsFolder;
    std::unique_ptr<TSettingIni> settings;
    QStringList messages;
    std::atomic<int> previewFrames{0};
    QApplication &app = App();
    TFramePreview preview;
    TFrameRecord record;
    TSyntheticSource camera1{"Camera1", TSyntheticKind::Camera, 320, 240, 20, 0};
    TSyntheticSource slides{"Presentation", TSyntheticKind::Slide, 640, 480, 20, 0};
};

TEST_F(RecordingRig, FiveSecondsWithMicrophoneMakeAPlayableMp4) {
    sc::test::PulseTestServer server;
    settings->Mcf = SineInput();
    ASSERT_GT(settings->Mcf, 0) << "the test server's sine source is listed";
    StartPreview(4);
    const std::string path = Path("lesson.mp4");
    ASSERT_EQ(record.StartRecording(QString::fromStdString(path), true), 0) << messages.join("\n").toStdString();
    std::this_thread::sleep_for(std::chrono::seconds(5));
    ASSERT_EQ(record.StopRecording(), 0);
    const TRecordFigures figures = record.Figures();
    EXPECT_GT(figures.videoWritten, 80);
    EXPECT_EQ(figures.videoDropped, 0) << "every encoded picture after the first written";

    const auto info = testmedia::ffprobe(path, "-count_frames -show_streams -show_format");
    ASSERT_TRUE(info.contains("streams")) << path;
    ASSERT_EQ(info["streams"].size(), 2u);
    const auto &video = info["streams"][0];
    const auto &audio = info["streams"][1];
    EXPECT_EQ(video["codec_name"], "h264");
    EXPECT_EQ(video["width"], 640);
    EXPECT_EQ(video["height"], 480);
    EXPECT_EQ(video["avg_frame_rate"], "20/1");
    EXPECT_EQ(video["nb_read_frames"], std::to_string(figures.videoWritten)) << "every written picture decodes";
    EXPECT_EQ(audio["codec_name"], "aac");
    EXPECT_EQ(audio["sample_rate"], "44100");
    const double videoSeconds = Seconds(video, "duration"), audioSeconds = Seconds(audio, "duration");
    EXPECT_NEAR(videoSeconds, audioSeconds, 0.1);
    EXPECT_NEAR(videoSeconds, 5.0, 0.5);
    EXPECT_GT(FirstPictureLuma(path), 40) << "the first picture shows the slide, not black";
}

TEST_F(RecordingRig, StartAndStopWhileThePreviewRuns) {
    StartPreview(4);
    for (int round = 0; round < 20; ++round) {
        const std::string path = Path("take" + std::to_string(round) + ".mp4");
        ASSERT_EQ(record.StartRecording(QString::fromStdString(path), false), 0) << round;
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        record.StopRecording();
        const auto info = testmedia::ffprobe(path, "-count_frames -show_streams");
        ASSERT_TRUE(info.contains("streams")) << path;
        ASSERT_EQ(info["streams"].size(), 1u) << path;
        EXPECT_EQ(info["streams"][0]["codec_name"], "h264") << path;
        EXPECT_GE(std::stoi(info["streams"][0]["nb_read_frames"].get<std::string>()), 1) << path;
    }
    EXPECT_TRUE(messages.isEmpty()) << messages.join("\n").toStdString();
}

TEST_F(RecordingRig, FailuresAreShownAndLeaveNoGraph) {
    StartPreview(3);
    // A folder that cannot exist: the writer refuses the file.
    EXPECT_EQ(record.StartRecording("/dev/null/lesson.mp4", false), -1);
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages[0], QStringLiteral("创建MP4文件错误！"));
    EXPECT_FALSE(record.FilterGraphRecord.Active());

    // Sound asked for, but no such input: the audio branch cannot be connected.
    settings->Mcf = 99;
    EXPECT_EQ(record.StartRecording(QString::fromStdString(Path("nosound.mp4")), true), -1);
    ASSERT_EQ(messages.size(), 2);
    EXPECT_EQ(messages[1], QStringLiteral("启动录制失败！"));
    EXPECT_FALSE(record.FilterGraphRecord.Active());
    EXPECT_FALSE(record.Recording());

    // The frame records again afterwards.
    settings->Mcf = 0;
    EXPECT_EQ(record.StartRecording(QString::fromStdString(Path("after.mp4")), false), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    record.StopRecording();
    EXPECT_EQ(testmedia::ffprobe(Path("after.mp4"), "-show_streams")["streams"].size(), 1u);
}

TEST_F(RecordingRig, MixLevelOfTheMicrophone) {
    sc::test::PulseTestServer server;
    settings->Mcf = 0;
    EXPECT_DOUBLE_EQ(record.GetMixLevel(), 0.00001) << "no device";
    settings->Mcf = SineInput();
    ASSERT_GT(settings->Mcf, 0);
    EXPECT_EQ(record.SetMixLevel(0.5), S_OK);
    EXPECT_DOUBLE_EQ(record.MixLevel, 0.51);
    EXPECT_NEAR(record.GetMixLevel(), 0.51, 0.01);
    EXPECT_NEAR(server.sourceVolumePercent("test_sine"), 51, 1);
    EXPECT_EQ(record.SetMixLevel(1.0), S_OK);
    EXPECT_DOUBLE_EQ(record.MixLevel, 1.01);
    EXPECT_NEAR(server.sourceVolumePercent("test_sine"), 100, 1) << "no boost above full level";
}
