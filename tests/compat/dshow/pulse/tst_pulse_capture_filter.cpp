#include "compat/com/ClassRegistry.h"
#include "compat/dshow/Devices.h"
#include "compat/dshow/FilterGraph.h"
#include "compat/dshow/pulse/PulseCaptureFilter.h"
#include "tests/support/PulseTestServer.h"
#include "tests/support/TestFilters.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

using namespace sc;

namespace {

std::vector<std::string> audioDeviceNames() {
    std::vector<std::string> names;
    for (const ComPtr<IMoniker> &moniker : CategoryMonikers(CLSID_AudioInputDeviceCategory)) {
        ComPtr<IPropertyBag> bag;
        std::string name;
        if (SUCCEEDED(moniker->BindToStorage(IID_IPropertyBag, bag.PutVoid())) &&
            SUCCEEDED(bag->Read("FriendlyName", &name)))
            names.push_back(name);
    }
    return names;
}

ComPtr<IBaseFilter> microphone(const std::string &friendlyName) {
    for (const ComPtr<IMoniker> &moniker : CategoryMonikers(CLSID_AudioInputDeviceCategory)) {
        ComPtr<IPropertyBag> bag;
        std::string name;
        moniker->BindToStorage(IID_IPropertyBag, bag.PutVoid());
        if (bag && SUCCEEDED(bag->Read("FriendlyName", &name)) && name == friendlyName) {
            ComPtr<IBaseFilter> filter;
            EXPECT_EQ(moniker->BindToObject(IID_IBaseFilter, filter.PutVoid()), S_OK);
            return filter;
        }
    }
    ADD_FAILURE() << "no microphone " << friendlyName;
    return nullptr;
}

struct MicrophoneGraph {
    ComPtr<IGraphBuilder> graph;
    ComPtr<test::RecordingSink> sink = test::Make<test::RecordingSink>();
    ComPtr<IMediaControl> control;
    HRESULT connected = E_FAIL;

    MicrophoneGraph(IBaseFilter *microphone, const ALLOCATOR_PROPERTIES *suggestion) {
        EXPECT_EQ(CoCreate(CLSID_FilterGraph, &graph), S_OK);
        control = graph.As<IMediaControl>();
        graph->AddFilter(microphone, "AudioSource");
        graph->AddFilter(sink.Get(), "sink");
        ComPtr<IPin> output = PinsOf(microphone, PINDIR_OUTPUT).front();
        if (suggestion) {
            EXPECT_EQ(output.As<IAMBufferNegotiation>()->SuggestAllocatorProperties(suggestion), S_OK);
        }
        connected = graph->Connect(output.Get(), sink->Input());
    }
    ~MicrophoneGraph() { control->Stop(); }
};

double rmsOf(const std::vector<test::RecordingSink::Sample> &samples, size_t from) {
    double sum = 0;
    size_t count = 0;
    for (size_t i = from; i < samples.size(); ++i) {
        auto *pcm = reinterpret_cast<const int16_t *>(samples[i].bytes.data());
        for (size_t s = 0; s < samples[i].bytes.size() / 2; ++s, ++count)
            sum += double(pcm[s]) * pcm[s];
    }
    return count ? std::sqrt(sum / count) / 32768.0 : 0;
}

} // namespace

TEST(PulseCaptureFilter, MicrophonesAreTheServersInputsWithoutMonitors) {
    test::PulseTestServer server;
    EXPECT_EQ(audioDeviceNames(), (std::vector<std::string>{"Test Sine Microphone", "Quiet Line In"}));
    EXPECT_TRUE(std::getenv("PULSE_SERVER"));
}

TEST(PulseCaptureFilter, NoServerMeansNoMicrophoneAndNoWait) {
    setenv("PULSE_SERVER", "unix:/nonexistent/sc-no-server", 1);
    EXPECT_TRUE(audioDeviceNames().empty());
    pulse::PulseCaptureFilter *filter = nullptr;
    EXPECT_EQ(pulse::PulseCaptureFilter::Create("test_sine", &filter), VFW_E_NO_CAPTURE_HARDWARE);
    EXPECT_EQ(filter, nullptr);
    unsetenv("PULSE_SERVER");
}

TEST(PulseCaptureFilter, DeliversTheSineInNegotiatedBuffersWithContinuousTimes) {
    test::PulseTestServer server;
    ComPtr<IBaseFilter> filter = microphone("Test Sine Microphone");
    ASSERT_TRUE(filter);
    // What the recording asks for: 40 buffers of 25 ms; 4410 bytes would split a sample frame.
    const ALLOCATOR_PROPERTIES suggestion{40, 4410, -1, -1};
    MicrophoneGraph graph(filter.Get(), &suggestion);
    ASSERT_EQ(graph.connected, S_OK);

    AM_MEDIA_TYPE type;
    ASSERT_EQ(graph.sink->Input()->ConnectionMediaType(&type), S_OK);
    ASSERT_TRUE(type.WaveFormat());
    EXPECT_EQ(type.WaveFormat()->nSamplesPerSec, 44100u);
    EXPECT_EQ(type.WaveFormat()->nChannels, 2);
    EXPECT_EQ(type.WaveFormat()->wBitsPerSample, 16);
    ALLOCATOR_PROPERTIES negotiated;
    ASSERT_EQ(PinsOf(filter.Get(), PINDIR_OUTPUT).front().As<IAMBufferNegotiation>()->GetAllocatorProperties(&negotiated), S_OK);
    EXPECT_EQ(negotiated.cBuffers, 40);
    EXPECT_EQ(negotiated.cbBuffer, 4408);

    ASSERT_EQ(graph.control->Run(), S_OK);
    ASSERT_TRUE(graph.sink->WaitFor(80));  // 2 s of sound
    EXPECT_EQ(graph.control->Stop(), S_OK);
    const auto samples = graph.sink->Samples();
    EXPECT_EQ(samples.front().start, 0);
    uint64_t frames = 0;
    for (size_t i = 0; i < samples.size(); ++i) {
        ASSERT_EQ(samples[i].bytes.size(), 4408u) << i;
        ASSERT_TRUE(samples[i].timed) << i;
        frames += 4408 / 4;
        // Stamped from the count of sample frames: no gap, no overlap, no drift.
        EXPECT_EQ(samples[i].stop, static_cast<REFERENCE_TIME>(frames * UNITS / 44100)) << i;
        if (i > 0) {
            EXPECT_EQ(samples[i].start, samples[i - 1].stop) << i;
            EXPECT_FALSE(samples[i].discontinuity) << i;
        }
    }
    // A sine of amplitude 0.5: RMS 0.354 (-9 dBFS).
    EXPECT_NEAR(rmsOf(samples, 20), 0.3536, 0.02);
}

TEST(PulseCaptureFilter, MixLevelIsTheInputVolumeOnTheServer) {
    test::PulseTestServer server;
    ComPtr<IBaseFilter> filter = microphone("Quiet Line In");
    ASSERT_TRUE(filter);
    ComPtr<IAMAudioInputMixer> mixer = filter.As<IAMAudioInputMixer>();
    ASSERT_TRUE(mixer);

    struct Case {
        double level;
        int serverPercent;
    };
    for (Case c : {Case{0.5, 50}, Case{0.01, 1}, Case{1.01, 100}, Case{0.0, 0}}) {
        EXPECT_EQ(mixer->put_MixLevel(c.level), S_OK) << c.level;
        EXPECT_EQ(server.sourceVolumePercent("test_quiet"), c.serverPercent) << c.level;
    }
    EXPECT_EQ(mixer->put_MixLevel(-0.5), E_INVALIDARG);
    server.pactl("set-source-volume test_quiet 25%");
    double level = 0;
    ASSERT_EQ(mixer->get_MixLevel(&level), S_OK);
    EXPECT_NEAR(level, 0.25, 0.001);

    EXPECT_EQ(mixer->put_Enable(0), S_OK);
    EXPECT_NE(server.pactl("get-source-mute test_quiet").find("yes"), std::string::npos);
    BOOL enabled = 1;
    ASSERT_EQ(mixer->get_Enable(&enabled), S_OK);
    EXPECT_EQ(enabled, 0);
    EXPECT_EQ(mixer->put_Enable(1), S_OK);
    EXPECT_NE(server.pactl("get-source-mute test_quiet").find("no"), std::string::npos);
}

TEST(PulseCaptureFilter, ServerGoingAwayEndsTheStreamAndStopStillWorks) {
    test::PulseTestServer server;
    ComPtr<IBaseFilter> filter = microphone("Test Sine Microphone");
    ASSERT_TRUE(filter);
    MicrophoneGraph graph(filter.Get(), nullptr);
    ASSERT_EQ(graph.connected, S_OK);
    ASSERT_EQ(graph.control->Run(), S_OK);
    ASSERT_TRUE(graph.sink->WaitFor(1));
    server.kill();
    ASSERT_TRUE(graph.sink->WaitForEndOfStream());
    EXPECT_EQ(graph.control->Stop(), S_OK);
    EXPECT_FALSE(static_cast<pulse::PulseCaptureFilter *>(filter.Get())->LastError().empty());
    // Without a server the mixer reports a failure instead of waiting.
    double level = 0;
    EXPECT_EQ(filter.As<IAMAudioInputMixer>()->get_MixLevel(&level), E_FAIL);
}
