// The six filters as the graphs use them: created from the registry, configured with the
// calls the graphs make, connected and run in real graphs.
#include "FilterInterfaces.h"
#include "TestFilters.h"
#include "Yuy2Pictures.h"

#include "compat/com/ClassRegistry.h"
#include "compat/dshow/Devices.h"
#include "compat/dshow/FilterGraph.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <thread>

using namespace std::chrono_literals;
using testfilters::CollectingSink;
using testfilters::PushSource;
using testpic::Yuv;

namespace {

class Graph {
public:
    Graph()
    {
        RegisterOutsideFilters();
        EXPECT_EQ(CoCreate(CLSID_FilterGraph, &builder_), S_OK);
        control_ = builder_.As<IMediaControl>();
    }
    ~Graph()
    {
        if (control_)
            control_->Stop();
    }
    // Takes the first reference of a new filter, so the graph shares a counted object.
    template <class F>
    F* add(F* filter, const char* name)
    {
        owned_.emplace_back(filter);
        EXPECT_TRUE(SUCCEEDED(builder_->AddFilter(filter, name))) << name;
        return filter;
    }
    ComPtr<IBaseFilter> create(REFCLSID clsid, const char* name)
    {
        ComPtr<IBaseFilter> filter;
        EXPECT_EQ(CoCreate(clsid, &filter), S_OK) << name;
        if (filter)
            add(filter.Get(), name);
        return filter;
    }
    HRESULT connect(IBaseFilter* from, int out, IBaseFilter* to, int in)
    {
        const auto outs = PinsOf(from, PINDIR_OUTPUT);
        const auto ins = PinsOf(to, PINDIR_INPUT);
        if (out >= int(outs.size()) || in >= int(ins.size()))
            return VFW_E_NOT_FOUND;
        return builder_->ConnectDirect(outs[out].Get(), ins[in].Get(), nullptr);
    }
    HRESULT run() { return control_->Run(); }
    HRESULT stop() { return control_->Stop(); }

private:
    ComPtr<IGraphBuilder> builder_;
    ComPtr<IMediaControl> control_;
    std::vector<ComPtr<IBaseFilter>> owned_;
};

template <class T>
ComPtr<T> settingsOf(IBaseFilter* filter)
{
    ComPtr<T> settings;
    EXPECT_EQ(filter->QueryInterface(IidOf<T>(), settings.PutVoid()), S_OK);
    return settings;
}

ComPtr<IBaseFilter> createFilter(REFCLSID clsid)
{
    RegisterOutsideFilters();
    ComPtr<IBaseFilter> filter;
    EXPECT_EQ(CoCreate(clsid, &filter), S_OK);
    return filter;
}

AM_MEDIA_TYPE yuy2Type(int w, int h)
{
    return MakeVideoType(MEDIASUBTYPE_YUY2, w, h, 16, UNITS / 20, MakeFourCC('Y', 'U', 'Y', '2'));
}

} // namespace

TEST(OutsideFilters, CreatedByIdentifierAndByMonikerNameWithTheirSettingsInterface)
{
    RegisterOutsideFilters();
    const std::string filterCategory = "@device:sw:{083863F1-70DE-11D0-BD40-00A0C911CE86}\\";
    struct Case {
        CLSID clsid;
        IID settings;
        std::string moniker;
    };
    const Case cases[] = {
        {CLSID_RawVideoFilter, IID_IRawVideoSettings, filterCategory + "{0B390488-D80F-4A68-8408-48DC199F0E97}"},
        {CLSID_YUY2Switcher, IID_IYUY2SwitcherParam, filterCategory + "{6652CA2D-3530-40BC-A75B-D7EFFBFC2C65}"},
        {CLSID_MainPushSource, IID_ISetPushSource, filterCategory + "{2D2C2ECA-E183-40F2-8E5B-6498A045A221}"},
        {CLSID_PanelCapture, IID_ISetPushPanel, filterCategory + "{2D2C5ECA-E483-40F2-8E5B-649BA045A221}"},
        {CLSID_H264Encoder, IID_IVideoEncoderSettings,
         "@device:sw:{33D9A760-90C8-11D0-BD43-00A0C911CE86}\\ffdshow video encoder"},
        {CLSID_AacEncoder, IID_IAacEncoderSettings, filterCategory + "{88F36DB6-D898-40B5-B409-466A0EECC26A}"},
    };
    for (const Case& c : cases) {
        ComPtr<IBaseFilter> byId;
        ASSERT_EQ(CoCreateInstance(c.clsid, nullptr, 3, IID_IBaseFilter, byId.PutVoid()), S_OK) << c.moniker;
        ComPtr<IBaseFilter> byName;
        ASSERT_EQ(BindMonikerName(c.moniker, IID_IBaseFilter, byName.PutVoid()), S_OK) << c.moniker;
        CLSID clsid{};
        byName->GetClassID(&clsid);
        EXPECT_EQ(clsid, c.clsid) << c.moniker;
        ComPtr<IUnknown> settings;
        EXPECT_EQ(byName->QueryInterface(c.settings, settings.PutVoid()), S_OK) << c.moniker;
    }
}

TEST(OutsideFilters, ConfigurationCallsTakeTheGraphsValuesAndRefuseWrongOrderOrValue)
{
    struct Case {
        const char* name;
        CLSID clsid;
        std::function<HRESULT(IBaseFilter*)> call;
        HRESULT expected;
    };
    auto raw = [](IBaseFilter* f) { return settingsOf<IRawVideoSettings>(f); };
    auto enc = [](IBaseFilter* f) { return settingsOf<IVideoEncoderSettings>(f); };
    auto aac = [](IBaseFilter* f) { return settingsOf<IAacEncoderSettings>(f); };
    auto sw = [](IBaseFilter* f) { return settingsOf<IYUY2SwitcherParam>(f); };
    TSwitcherParam param{16, 640, 360, 25, {}};
    TSwitcherLayer badLayers[kSwitcherLayerCount] = {};
    badLayers[3].enabled = -1;
    badLayers[3].input = 5;
    const Case cases[] = {
        {"ConfigffdshowRaw YUY2", CLSID_RawVideoFilter, [](IBaseFilter* f) { return ConfigffdshowRaw(f, kRawOutputYuy2); }, S_OK},
        {"raw parameter before a preset", CLSID_RawVideoFilter, [&](IBaseFilter* f) { return raw(f)->SetParameter(47, 1); }, VFW_E_WRONG_STATE},
        {"raw unknown preset", CLSID_RawVideoFilter, [&](IBaseFilter* f) { return raw(f)->SelectPreset("fast", 0); }, E_INVALIDARG},
        {"raw RGB output", CLSID_RawVideoFilter, [&](IBaseFilter* f) { raw(f)->SelectPreset("default", 0); return raw(f)->SetParameter(1305, 1); }, E_NOTIMPL},
        {"raw unknown parameter", CLSID_RawVideoFilter, [&](IBaseFilter* f) { raw(f)->SelectPreset("default", 0); return raw(f)->SetParameter(9999, 0); }, E_INVALIDARG},
        {"ConfigffdshowEncoder 1000", CLSID_H264Encoder, [](IBaseFilter* f) { return ConfigffdshowEncoder(f, 1000); }, S_OK},
        {"encoder parameter before reset", CLSID_H264Encoder, [&](IBaseFilter* f) { return enc(f)->SetParameter(3001, 1000); }, VFW_E_WRONG_STATE},
        {"encoder other format", CLSID_H264Encoder, [&](IBaseFilter* f) { enc(f)->ResetParameters(); return enc(f)->SetParameter(3006, 0x3234504D); }, E_INVALIDARG},
        {"encoder zero bit rate", CLSID_H264Encoder, [](IBaseFilter* f) { return ConfigffdshowEncoder(f, 0); }, E_INVALIDARG},
        {"encoder unknown parameter", CLSID_H264Encoder, [&](IBaseFilter* f) { enc(f)->ResetParameters(); return enc(f)->SetParameter(12345, 1); }, E_INVALIDARG},
        {"ConfigAudioCodecAAC 96", CLSID_AacEncoder, [](IBaseFilter* f) { return ConfigAudioCodecAAC(f, 96); }, S_OK},
        {"AAC zero bit rate", CLSID_AacEncoder, [](IBaseFilter* f) { return ConfigAudioCodecAAC(f, 0); }, E_INVALIDARG},
        {"AAC HE profile", CLSID_AacEncoder, [&](IBaseFilter* f) { const AacEncoderConfig c{0, 5, 0, 96000}; return aac(f)->SetConfig(&c); }, E_INVALIDARG},
        {"AAC null record", CLSID_AacEncoder, [&](IBaseFilter* f) { return aac(f)->SetConfig(nullptr); }, E_POINTER},
        {"switcher SetParam", CLSID_YUY2Switcher, [&](IBaseFilter* f) { return sw(f)->SetParam(&param); }, S_OK},
        {"switcher SetMode before SetParam", CLSID_YUY2Switcher, [&](IBaseFilter* f) { return sw(f)->SetMode(1); }, VFW_E_WRONG_STATE},
        {"switcher SetMode 5", CLSID_YUY2Switcher, [&](IBaseFilter* f) { sw(f)->SetParam(&param); return sw(f)->SetMode(5); }, E_INVALIDARG},
        {"switcher layer with input 5", CLSID_YUY2Switcher, [&](IBaseFilter* f) { sw(f)->SetParam(&param); return sw(f)->SetLayers(badLayers); }, E_INVALIDARG},
        {"switcher odd width", CLSID_YUY2Switcher, [&](IBaseFilter* f) { TSwitcherParam p = param; p.width = 641; return sw(f)->SetParam(&p); }, E_INVALIDARG},
        {"SetPush 20", CLSID_MainPushSource, [](IBaseFilter* f) { return settingsOf<ISetPushSource>(f)->SetPush(20); }, S_OK},
        {"SetPush 0", CLSID_MainPushSource, [](IBaseFilter* f) { return settingsOf<ISetPushSource>(f)->SetPush(0); }, E_INVALIDARG},
        {"SetFrameRate 5", CLSID_PanelCapture, [](IBaseFilter* f) { return settingsOf<ISetPushPanel>(f)->SetFrameRate(5); }, S_OK},
        {"SetFrameRate 0", CLSID_PanelCapture, [](IBaseFilter* f) { return settingsOf<ISetPushPanel>(f)->SetFrameRate(0); }, E_INVALIDARG},
        {"SetPanel without a window", CLSID_PanelCapture, [](IBaseFilter* f) { return settingsOf<ISetPushPanel>(f)->SetPanel(0, 640, 480); }, E_INVALIDARG},
        {"SetPlayMode 2", CLSID_PanelCapture, [](IBaseFilter* f) { return settingsOf<ISetPushPanel>(f)->SetPlayMode(2); }, E_INVALIDARG},
    };
    for (const Case& c : cases) {
        auto filter = createFilter(c.clsid);
        ASSERT_TRUE(filter) << c.name;
        EXPECT_EQ(c.call(filter.Get()), c.expected) << c.name;
    }
}

TEST(OutsideFilters, SettingsThatShapeTheConnectionAreRefusedOnceConnected)
{
    Graph graph;
    // Encoder bit rate shows in the connected type; AAC configuration is refused afterwards.
    auto pcm = MakePcmAudioType(44100, 2, 16);
    auto* audio = graph.add(new PushSource(pcm, 4408), "pcm");
    auto aacFilter = graph.create(CLSID_AacEncoder, "aac");
    auto* audioSink = graph.add(new CollectingSink(MEDIATYPE_Audio), "audio sink");
    ASSERT_EQ(ConfigAudioCodecAAC(aacFilter.Get(), 96), S_OK);
    ASSERT_EQ(graph.connect(audio, 0, aacFilter.Get(), 0), S_OK);
    ASSERT_EQ(graph.connect(aacFilter.Get(), 0, audioSink, 0), S_OK);
    EXPECT_EQ(ConfigAudioCodecAAC(aacFilter.Get(), 128), VFW_E_ALREADY_CONNECTED);
    const WAVEFORMATEX* wave = audioSink->connectedType().WaveFormat();
    ASSERT_NE(wave, nullptr);
    EXPECT_EQ(wave->nAvgBytesPerSec, 96000u / 8);

    auto switcher = graph.create(CLSID_YUY2Switcher, "switcher");
    TSwitcherParam param{16, 640, 360, 25, {}};
    ASSERT_EQ(settingsOf<IYUY2SwitcherParam>(switcher.Get())->SetParam(&param), S_OK);
    auto* picture = graph.add(new PushSource(yuy2Type(320, 240), 320 * 240 * 2), "picture");
    ASSERT_EQ(graph.connect(picture, 0, switcher.Get(), 1), S_OK);
    EXPECT_EQ(settingsOf<IYUY2SwitcherParam>(switcher.Get())->SetParam(&param), VFW_E_ALREADY_CONNECTED);
}

TEST(OutsideFilters, RawVideoFilterTurnsBottomUpRgb32IntoUprightYuy2)
{
    constexpr int kW = 64, kH = 32;
    Graph graph;
    auto* source = graph.add(new PushSource(MakeVideoType(MEDIASUBTYPE_RGB32, kW, kH, 32), kW * kH * 4), "rgb");
    auto raw = graph.create(CLSID_RawVideoFilter, "raw");
    auto* sink = graph.add(new CollectingSink(MEDIATYPE_Video), "sink");
    ASSERT_EQ(ConfigffdshowRaw(raw.Get(), kRawOutputYuy2), S_OK);
    ASSERT_EQ(graph.connect(source, 0, raw.Get(), 0), S_OK);
    ASSERT_EQ(graph.connect(raw.Get(), 0, sink, 0), S_OK);
    const AM_MEDIA_TYPE& out = sink->connectedType();
    EXPECT_EQ(out.subtype, MEDIASUBTYPE_YUY2);
    ASSERT_NE(out.BitmapHeader(), nullptr);
    EXPECT_EQ(out.BitmapHeader()->biWidth, kW);
    EXPECT_EQ(std::abs(out.BitmapHeader()->biHeight), kH);

    // Memory rows 0-15 (the bottom half, bottom-up) white, rows 16-31 black.
    std::vector<uint8_t> rgb(size_t(kW) * kH * 4, 0);
    std::fill(rgb.begin(), rgb.begin() + kW * 4 * (kH / 2), uint8_t(255));
    ASSERT_EQ(graph.run(), S_OK);
    ASSERT_EQ(source->deliver(rgb.data(), rgb.size()), S_OK);
    ASSERT_TRUE(sink->waitFor(1));
    const auto yuy2 = sink->samples()[0].bytes;
    ASSERT_EQ(yuy2.size(), size_t(kW) * kH * 2);
    EXPECT_NEAR(testpic::pixelAt(yuy2, kW, 5, 0).y, 16, 1) << "top row black";
    EXPECT_NEAR(testpic::pixelAt(yuy2, kW, 5, kH - 1).y, 235, 1) << "bottom row white";
}

TEST(OutsideFilters, SwitcherPacesItsOutputAndShowsModesAndLayers)
{
    constexpr int kW = 640, kH = 360;
    constexpr Yuv kCam1{81, 90, 240}, kPresentation{145, 54, 34}, kBlack{16, 128, 128};
    Graph graph;
    auto push = graph.create(CLSID_MainPushSource, "main push");
    ASSERT_EQ(settingsOf<ISetPushSource>(push.Get())->SetPush(20), S_OK);
    auto switcher = graph.create(CLSID_YUY2Switcher, "switcher");
    auto param = std::make_unique<TSwitcherParam>(TSwitcherParam{16, kW, kH, 25, {}});
    auto settings = settingsOf<IYUY2SwitcherParam>(switcher.Get());
    ASSERT_EQ(settings->SetParam(param.get()), S_OK);
    auto* cam1 = graph.add(new PushSource(yuy2Type(320, 240), 320 * 240 * 2), "cam1");
    auto* ppt = graph.add(new PushSource(yuy2Type(1280, 720), 1280 * 720 * 2), "ppt");
    auto* sink = graph.add(new CollectingSink(MEDIATYPE_Video), "sink");
    ASSERT_EQ(graph.connect(push.Get(), 0, switcher.Get(), 0), S_OK);
    ASSERT_EQ(graph.connect(cam1, 0, switcher.Get(), 1), S_OK);
    ASSERT_EQ(graph.connect(ppt, 0, switcher.Get(), 3), S_OK);
    ASSERT_EQ(graph.connect(switcher.Get(), 0, sink, 0), S_OK);
    ASSERT_EQ(graph.run(), S_OK);

    // Each input sends one picture only; the output keeps coming.
    const auto cam1Picture = testpic::solidYuy2(320, 240, kCam1);
    const auto pptPicture = testpic::solidYuy2(1280, 720, kPresentation);
    ASSERT_EQ(cam1->deliver(cam1Picture.data(), cam1Picture.size()), S_OK);
    ASSERT_EQ(ppt->deliver(pptPicture.data(), pptPicture.size()), S_OK);

    auto latestAfter = [&](size_t count) {
        EXPECT_TRUE(sink->waitFor(count)) << "output stalled";
        return sink->samples().back().bytes;
    };
    ASSERT_EQ(settings->SetMode(1), S_OK);
    size_t seen = sink->samples().size();
    EXPECT_EQ(testpic::pixelAt(latestAfter(seen + 2), kW, 300, 200), kCam1);
    ASSERT_EQ(settings->SetMode(2), S_OK); // camera 2 never sent a picture
    seen = sink->samples().size();
    EXPECT_EQ(testpic::pixelAt(latestAfter(seen + 2), kW, 300, 200), kBlack);

    // Layout mode 4 at 640x360: presentation full frame, camera 1 inset with its border.
    TSwitcherLayer layers[kSwitcherLayerCount] = {};
    layers[0].enabled = -1;
    layers[0].input = 3;
    layers[0].sourceRect = {0, 0, 1280, 720};
    layers[0].destRect = {0, 0, kW, kH};
    layers[1].enabled = -1;
    layers[1].input = 1;
    layers[1].sourceRect = {0, 0, 320, 240};
    layers[1].destRect = {420, 8, 212, 124};
    layers[1].borderOn = 1;
    layers[1].borderRect = {420, 8, 210, 124};
    layers[1].borderThickness = 2;
    layers[1].borderYuv[0] = 125;
    layers[1].borderYuv[1] = 128;
    layers[1].borderYuv[2] = 128;
    ASSERT_EQ(settings->SetLayers(layers), S_OK);
    seen = sink->samples().size();
    const auto frame = latestAfter(seen + 2);
    EXPECT_EQ(testpic::pixelAt(frame, kW, 100, 100), kPresentation);
    EXPECT_EQ(testpic::pixelAt(frame, kW, 500, 60), kCam1);
    EXPECT_EQ(testpic::pixelAt(frame, kW, 420, 60), (Yuv{125, 128, 128}));
    EXPECT_EQ(testpic::pixelAt(frame, kW, 630, 60), kCam1) << "the inset reaches 2 pixels past its border";

    // Never faster than 20 pictures a second (a busy machine may make it slower, not faster).
    const auto samples = sink->samples();
    ASSERT_GE(samples.size(), 6u);
    const double seconds =
        std::chrono::duration<double>(samples.back().arrival - samples.front().arrival).count();
    EXPECT_LE(double(samples.size() - 1), 20.0 * seconds + 1.0);
    for (const auto& s : samples)
        EXPECT_EQ(s.bytes.size(), size_t(kW) * kH * 2);
}

TEST(OutsideFilters, MainPushSourceStreamsBlackYuy2AtItsRate)
{
    Graph graph;
    auto push = graph.create(CLSID_MainPushSource, "main push");
    ASSERT_EQ(settingsOf<ISetPushSource>(push.Get())->SetPush(10), S_OK);
    auto* sink = graph.add(new CollectingSink(MEDIATYPE_Video), "sink");
    ASSERT_EQ(graph.connect(push.Get(), 0, sink, 0), S_OK);
    EXPECT_EQ(sink->connectedType().AvgTimePerFrame(), UNITS / 10);
    EXPECT_EQ(settingsOf<ISetPushSource>(push.Get())->SetPush(20), VFW_E_ALREADY_CONNECTED);
    ASSERT_EQ(graph.run(), S_OK);
    ASSERT_TRUE(sink->waitFor(4));
    graph.stop();
    const auto samples = sink->samples();
    for (const auto& s : samples) {
        ASSERT_EQ(s.bytes.size(), 320u * 240 * 2);
        EXPECT_EQ(testpic::pixelAt(s.bytes, 320, 77, 33), (Yuv{16, 128, 128}));
    }
    const double seconds =
        std::chrono::duration<double>(samples.back().arrival - samples.front().arrival).count();
    EXPECT_LE(double(samples.size() - 1), 10.0 * seconds + 1.0);
}
