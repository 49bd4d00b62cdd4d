// The encoder filters feeding the MP4 writer the way the recording graph does: composed YUY2
// pictures through the H.264 encoder, PCM through the AAC encoder, every encoded sample
// written with the recording's stamps, the file checked with ffprobe.
#include "FilterInterfaces.h"
#include "MediaProbe.h"
#include "Mp4Api.h"
#include "TestFilters.h"
#include "Yuy2Pictures.h"

#include "compat/com/ClassRegistry.h"
#include "compat/dshow/Devices.h"
#include "compat/dshow/FilterGraph.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>

using testfilters::CollectingSink;
using testfilters::PushSource;

TEST(RecordingChain, EncodedSamplesMakeAPlayableMp4WithBothTracks)
{
    constexpr int kW = 320, kH = 240, kFrames = 80, kRate = 44100;
    RegisterOutsideFilters();
    ComPtr<IGraphBuilder> graph;
    ASSERT_EQ(CoCreate(CLSID_FilterGraph, &graph), S_OK);
    auto connect = [&](IBaseFilter* a, IBaseFilter* b) {
        return graph->ConnectDirect(PinsOf(a, PINDIR_OUTPUT)[0].Get(), PinsOf(b, PINDIR_INPUT)[0].Get(), nullptr);
    };
    ComPtr<PushSource> video(new PushSource(
        MakeVideoType(MEDIASUBTYPE_YUY2, kW, kH, 16, UNITS / 20, MakeFourCC('Y', 'U', 'Y', '2')), kW * kH * 2));
    ComPtr<PushSource> audio(new PushSource(MakePcmAudioType(kRate, 2, 16), 4408));
    ComPtr<CollectingSink> videoSink(new CollectingSink(MEDIATYPE_Video));
    ComPtr<CollectingSink> audioSink(new CollectingSink(MEDIATYPE_Audio));
    ComPtr<IBaseFilter> h264, aac;
    ASSERT_EQ(BindMonikerName("@device:sw:{33D9A760-90C8-11D0-BD43-00A0C911CE86}\\ffdshow video encoder",
                              IID_IBaseFilter, h264.PutVoid()),
              S_OK);
    ASSERT_EQ(CoCreate(CLSID_AacEncoder, &aac), S_OK);
    for (auto [filter, name] : {std::pair<IBaseFilter*, const char*>{video.Get(), "VideoSource"},
                                {h264.Get(), "H264"}, {videoSink.Get(), "FH264Grabber"},
                                {audio.Get(), "AudioSource"}, {aac.Get(), "AAC"}, {audioSink.Get(), "FAACGrabber"}})
        ASSERT_EQ(graph->AddFilter(filter, name), S_OK) << name;
    ASSERT_EQ(ConfigffdshowEncoder(h264.Get(), 600), S_OK);
    ASSERT_EQ(connect(video.Get(), h264.Get()), S_OK);
    ASSERT_EQ(connect(h264.Get(), videoSink.Get()), S_OK);
    ASSERT_EQ(ConfigAudioCodecAAC(aac.Get(), 96), S_OK);
    ASSERT_EQ(connect(audio.Get(), aac.Get()), S_OK);
    ASSERT_EQ(connect(aac.Get(), audioSink.Get()), S_OK);
    ASSERT_EQ(graph.As<IMediaControl>()->Run(), S_OK);

    // 4 s: a moving picture every 50 ms, 25 ms capture buffers of a 440 Hz tone.
    std::vector<int16_t> pcm(1102 * 2);
    int64_t sampleIndex = 0;
    for (int f = 0; f < kFrames; ++f) {
        for (int half = 0; half < 2; ++half) {
            for (int i = 0; i < 1102; ++i, ++sampleIndex)
                pcm[2 * i] = pcm[2 * i + 1] = int16_t(8000 * std::sin(2 * M_PI * 440 * sampleIndex / kRate));
            const REFERENCE_TIME start = (sampleIndex - 1102) * UNITS / kRate + 123456789;
            ASSERT_EQ(audio->deliver(pcm.data(), pcm.size() * 2, start), S_OK);
        }
        auto picture = testpic::solidYuy2(kW, kH, {uint8_t(40 + 2 * f), uint8_t(100 + f), 128});
        for (int x = 0; x < 40; ++x) // a bar that moves
            picture[(size_t(100) * kW + (f * 3 + x) % kW) * 2] = 235;
        ASSERT_EQ(video->deliver(picture.data(), picture.size()), S_OK);
    }
    ASSERT_TRUE(videoSink->waitFor(kFrames));
    const int aacFrames = int(sampleIndex / 1024) - 1; // the encoder holds back its priming frame
    ASSERT_TRUE(audioSink->waitFor(aacFrames));

    const auto videoSamples = videoSink->samples();
    ASSERT_EQ(videoSamples.size(), size_t(kFrames)) << "one access unit per picture";
    // Key frames: the first, then at most 2 s (40 pictures) apart; a scene change may add one.
    EXPECT_TRUE(videoSamples[0].sync);
    for (int f = 0, lastKey = 0; f < kFrames; ++f) {
        if (videoSamples[f].sync)
            lastKey = f;
        EXPECT_LT(f - lastKey, 40) << "frame " << f;
    }
    const auto audioSamples = audioSink->samples();
    for (size_t i = 0; i < audioSamples.size(); ++i) {
        ASSERT_TRUE(audioSamples[i].start) << "AAC sample " << i << " without a start time";
        if (i > 0) {
            EXPECT_GT(*audioSamples[i].start, *audioSamples[i - 1].start);
        }
    }
    EXPECT_EQ(*audioSamples[0].start, 123456789);

    // The writer's parameters come from the connected types, as the recording reads them.
    const AM_MEDIA_TYPE& encodedVideo = videoSink->connectedType();
    const AM_MEDIA_TYPE& encodedAudio = audioSink->connectedType();
    ASSERT_NE(encodedVideo.BitmapHeader(), nullptr);
    const WAVEFORMATEX* wave = encodedAudio.WaveFormat();
    ASSERT_NE(wave, nullptr);
    ASSERT_GE(wave->cbSize, 2);
    const uint8_t* asc = encodedAudio.pbFormat + sizeof(WAVEFORMATEX);
    EXPECT_EQ(asc[0] >> 3, 2) << "AudioSpecificConfig of AAC-LC";
    Mp4Params params{};
    params.recordSize = sizeof params;
    params.videoPresent = 1;
    params.videoFormat = kMp4VideoFormatH264;
    params.width = uint32_t(encodedVideo.BitmapHeader()->biWidth);
    params.height = uint32_t(encodedVideo.BitmapHeader()->biHeight);
    params.videoConstant16 = 24;
    params.frameRate = 20;
    params.videoBitRate = 600000;
    params.audioPresent = 1;
    params.audioConstant40 = 1;
    params.audioConstant44 = 2;
    params.audioBitRate = 96000;
    params.audioSampleRate = wave->nSamplesPerSec;
    params.decoderConfigLength = wave->cbSize;
    params.decoderConfigAddress = reinterpret_cast<uintptr_t>(encodedAudio.pbFormat + sizeof(WAVEFORMATEX));

    const std::filesystem::path path = std::filesystem::temp_directory_path() / "tst_recording_chain.mp4";
    uint32_t handle = 0;
    ASSERT_EQ(MP4_Start(path.u16string().c_str(), &params, &handle), Mp4Ok) << mp4::lastError();
    const REFERENCE_TIME firstAudio = *audioSamples[0].start;
    for (size_t i = 0; i < audioSamples.size(); ++i) {
        const auto& s = audioSamples[i];
        const int64_t stamp = i == 0 ? 157 : *s.start - firstAudio;
        EXPECT_EQ(MP4_WriteSample(handle, 1, stamp, s.bytes.data(), uint32_t(s.bytes.size()), 1), Mp4Ok);
    }
    for (int f = 0; f < kFrames; ++f) {
        const auto& s = videoSamples[f];
        EXPECT_EQ(MP4_WriteSample(handle, 0, 500160 + int64_t(500000) * f, s.bytes.data(),
                                  uint32_t(s.bytes.size()), s.sync),
                  Mp4Ok);
    }
    MP4_Stop(handle);
    graph.As<IMediaControl>()->Stop();

    const auto info = testmedia::ffprobe(path.string(), "-count_frames -show_streams -show_format");
    ASSERT_TRUE(info.contains("streams"));
    ASSERT_EQ(info["streams"].size(), 2u);
    const auto& v = info["streams"][0];
    EXPECT_EQ(v["codec_name"], "h264");
    EXPECT_EQ(v["width"], kW);
    EXPECT_EQ(v["height"], kH);
    EXPECT_EQ(v["nb_read_frames"], std::to_string(kFrames));
    const auto& a = info["streams"][1];
    EXPECT_EQ(a["codec_name"], "aac");
    EXPECT_EQ(a["profile"], "LC");
    EXPECT_EQ(a["sample_rate"], std::to_string(kRate));
    EXPECT_EQ(a["channels"], 2);
    EXPECT_NEAR(std::stod(info["format"]["duration"].get<std::string>()), 4.05, 0.1);
    std::filesystem::remove(path);
}
