// The filter graph: membership, direct and intelligent connection, state changes, the
// capture graph builder, the sample grabber and the null renderer.

#include "TestFilters.h"

#include "compat/com/ClassRegistry.h"
#include "compat/dshow/FilterGraph.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {

const AM_MEDIA_TYPE kYuy2 = MakeVideoType(MEDIASUBTYPE_YUY2, 64, 48, 16);
// A compressed picture type that only the tests' own converters handle (the layer itself
// decompresses real MJPG, and its decoder would drop these made-up pictures).
constexpr uint32_t kTestCodecFourCC = MakeFourCC('T', 'S', 'T', 'C');
constexpr GUID kTestCodecSubtype = FourCCGuid(kTestCodecFourCC);
const AM_MEDIA_TYPE kTestCodec = MakeVideoType(kTestCodecSubtype, 64, 48, 16, 400000, kTestCodecFourCC);

template <class Condition>
bool WaitFor(Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

AM_MEDIA_TYPE Pattern(REFGUID major, REFGUID sub) {
    AM_MEDIA_TYPE type;
    type.majortype = major;
    type.subtype = sub;
    return type;
}

ComPtr<IPin> Pin(IBaseFilter *filter, PIN_DIRECTION direction, size_t index = 0) {
    auto pins = PinsOf(filter, direction);
    return index < pins.size() ? pins[index] : nullptr;
}

struct Graph {
    ComPtr<IGraphBuilder> builder;
    ComPtr<IMediaControl> control;
    Graph() {
        EXPECT_EQ(CoCreate(CLSID_FilterGraph, &builder), S_OK);
        control = builder.As<IMediaControl>();
    }
    int FilterCount() { return int(FiltersDownstreamFirst(builder.Get()).size()); }
};

TEST(FilterGraph, StreamsFromSourceThroughTransformToRenderer) {
    Graph graph;
    auto *source = new TestSource("Source", kYuy2);
    auto sourceFilter = Wrap<IBaseFilter>(source);
    auto copy = Wrap<IBaseFilter>(new CopyTransform());
    auto *recorder = new RecordingRenderer(Pattern(MEDIATYPE_Video, MEDIASUBTYPE_YUY2));
    auto recorderFilter = Wrap<IBaseFilter>(recorder);
    ASSERT_EQ(graph.builder->AddFilter(sourceFilter.Get(), "Source"), S_OK);
    ASSERT_EQ(graph.builder->AddFilter(copy.Get(), "Copy"), S_OK);
    ASSERT_EQ(graph.builder->AddFilter(recorderFilter.Get(), "Recorder"), S_OK);
    ASSERT_EQ(graph.builder->Connect(Pin(sourceFilter.Get(), PINDIR_OUTPUT).Get(), Pin(copy.Get(), PINDIR_INPUT).Get()), S_OK);
    ASSERT_EQ(graph.builder->Connect(Pin(copy.Get(), PINDIR_OUTPUT).Get(), Pin(recorderFilter.Get(), PINDIR_INPUT).Get()), S_OK);

    auto order = FiltersDownstreamFirst(graph.builder.Get());
    ASSERT_EQ(order.size(), 3u);
    EXPECT_TRUE(IsSameObject(order[0].Get(), recorderFilter.Get()));
    EXPECT_TRUE(IsSameObject(order[1].Get(), copy.Get()));
    EXPECT_TRUE(IsSameObject(order[2].Get(), sourceFilter.Get()));

    ASSERT_EQ(graph.control->Run(), S_OK);
    OAFilterState state;
    graph.control->GetState(0, &state);
    EXPECT_EQ(state, State_Running);
    ASSERT_TRUE(WaitFor([&] { return recorder->Samples().size() >= 5; }));
    ASSERT_EQ(graph.control->Stop(), S_OK);
    FILTER_STATE filterState;
    source->GetState(0, &filterState);
    EXPECT_EQ(filterState, State_Stopped);

    const auto samples = recorder->Samples();
    for (size_t i = 0; i < 5; ++i) {
        ASSERT_EQ(samples[i].bytes.size(), size_t(64 * 48 * 2));
        EXPECT_EQ(samples[i].bytes.front(), BYTE(i));
        EXPECT_EQ(samples[i].bytes.back(), BYTE(i));
        EXPECT_TRUE(samples[i].syncPoint);
    }
    // Nothing arrives after Stop returned.
    const size_t count = recorder->Samples().size();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(recorder->Samples().size(), count);

    // Run again after a stop: the pins are activated anew.
    ASSERT_EQ(graph.control->Run(), S_OK);
    ASSERT_TRUE(WaitFor([&] { return recorder->Samples().size() >= count + 3; }));
}

TEST(FilterGraph, ReleasingARunningGraphStopsAndFreesEverything) {
    auto *recorder = new RecordingRenderer();
    {
        Graph graph;
        auto source = Wrap<IBaseFilter>(new TestSource("Source", kYuy2));
        auto sink = Wrap<IBaseFilter>(recorder);
        graph.builder->AddFilter(source.Get(), "Source");
        graph.builder->AddFilter(sink.Get(), "Sink");
        ASSERT_EQ(graph.builder->Connect(Pin(source.Get(), PINDIR_OUTPUT).Get(), Pin(sink.Get(), PINDIR_INPUT).Get()), S_OK);
        ASSERT_EQ(graph.control->Run(), S_OK);
        ASSERT_TRUE(WaitFor([&] { return recorder->RenderedCount() >= 2; }));
    }
    // Leak and use-after-free checks belong to the sanitizer builds of this test.
}

TEST(FilterGraph, ConnectionErrorsAreReported) {
    Graph graph;
    auto source = Wrap<IBaseFilter>(new TestSource("Source", kTestCodec));
    auto yuy2Only = Wrap<IBaseFilter>(new RecordingRenderer(Pattern(MEDIATYPE_Video, MEDIASUBTYPE_YUY2)));
    auto anything = Wrap<IBaseFilter>(new RecordingRenderer());
    graph.builder->AddFilter(source.Get(), "Source");
    graph.builder->AddFilter(yuy2Only.Get(), "Yuy2");
    graph.builder->AddFilter(anything.Get(), "Any");
    auto out = Pin(source.Get(), PINDIR_OUTPUT);
    auto in = Pin(yuy2Only.Get(), PINDIR_INPUT);

    EXPECT_EQ(graph.builder->ConnectDirect(out.Get(), in.Get(), nullptr), VFW_E_NO_ACCEPTABLE_TYPES);
    EXPECT_EQ(graph.builder->Connect(out.Get(), in.Get()), VFW_E_CANNOT_CONNECT);
    EXPECT_EQ(graph.FilterCount(), 3) << "a failed attempt leaves no converter behind";
    EXPECT_EQ(graph.builder->Connect(in.Get(), out.Get()), VFW_E_INVALID_DIRECTION);
    EXPECT_EQ(graph.builder->Connect(nullptr, in.Get()), E_POINTER);

    // A partial type narrows the choice; a type the pin does not offer fails.
    AM_MEDIA_TYPE wanted = Pattern(MEDIATYPE_Video, MEDIASUBTYPE_RGB24);
    auto anyIn = Pin(anything.Get(), PINDIR_INPUT);
    EXPECT_TRUE(FAILED(graph.builder->ConnectDirect(out.Get(), anyIn.Get(), &wanted)));
    wanted.subtype = kTestCodecSubtype;
    ASSERT_EQ(graph.builder->ConnectDirect(out.Get(), anyIn.Get(), &wanted), S_OK);
    EXPECT_EQ(graph.builder->Connect(out.Get(), in.Get()), VFW_E_ALREADY_CONNECTED);
    AM_MEDIA_TYPE connected;
    ASSERT_EQ(anyIn->ConnectionMediaType(&connected), S_OK);
    EXPECT_EQ(connected.subtype, kTestCodecSubtype);

    ASSERT_EQ(graph.control->Run(), S_OK);
    EXPECT_EQ(out->Disconnect(), VFW_E_NOT_STOPPED);
    ASSERT_EQ(graph.control->Stop(), S_OK);
    EXPECT_EQ(graph.builder->Disconnect(out.Get()), S_OK);
    EXPECT_EQ(graph.builder->Disconnect(anyIn.Get()), S_OK);
    EXPECT_EQ(graph.builder->Disconnect(anyIn.Get()), S_FALSE);
    ComPtr<IPin> peer;
    EXPECT_EQ(out->ConnectedTo(peer.Put()), VFW_E_NOT_CONNECTED);
}

constexpr CLSID kConverterClass = MakeGuid("{7E57C0DE-0001-4000-8000-0000000C0DE1}");

TEST(FilterGraph, IntelligentConnectInsertsARegisteredConverter) {
    ClassRegistry::Instance().RegisterBuiltIn(
        {kConverterClass, "Test codec to YUY2", "", "Both", MERIT_NORMAL, {CLSID_LegacyAmFilterCategory},
         {{MEDIATYPE_Video, kTestCodecSubtype}}, {{MEDIATYPE_Video, MEDIASUBTYPE_YUY2}}},
        [](IUnknown *, REFIID iid, void **object) {
            auto *converter = new SubtypeConverter(kTestCodecSubtype, MEDIASUBTYPE_YUY2);
            converter->NonDelegatingAddRef();
            HRESULT hr = converter->NonDelegatingQueryInterface(iid, object);
            converter->NonDelegatingRelease();
            return hr;
        });
    Graph graph;
    auto source = Wrap<IBaseFilter>(new TestSource("Source", kTestCodec));
    auto *recorder = new RecordingRenderer(Pattern(MEDIATYPE_Video, MEDIASUBTYPE_YUY2));
    auto sink = Wrap<IBaseFilter>(recorder);
    graph.builder->AddFilter(source.Get(), "Source");
    graph.builder->AddFilter(sink.Get(), "Sink");
    ASSERT_EQ(graph.builder->Connect(Pin(source.Get(), PINDIR_OUTPUT).Get(), Pin(sink.Get(), PINDIR_INPUT).Get()), S_OK);
    EXPECT_EQ(graph.FilterCount(), 3);
    ComPtr<IBaseFilter> inserted;
    EXPECT_EQ(graph.builder->FindFilterByName("Test codec to YUY2", inserted.Put()), S_OK);
    ASSERT_EQ(graph.control->Run(), S_OK);
    ASSERT_TRUE(WaitFor([&] { return recorder->RenderedCount() >= 2; }));
    graph.control->Stop();
    ClassRegistry::Instance().UnregisterBuiltIn(kConverterClass);
}

TEST(FilterGraph, IntelligentConnectPrefersAnUnconnectedFilterOfTheGraph) {
    Graph graph;
    auto source = Wrap<IBaseFilter>(new TestSource("Source", kTestCodec));
    auto converter = Wrap<IBaseFilter>(new SubtypeConverter(kTestCodecSubtype, MEDIASUBTYPE_YUY2));
    auto sink = Wrap<IBaseFilter>(new RecordingRenderer(Pattern(MEDIATYPE_Video, MEDIASUBTYPE_YUY2)));
    graph.builder->AddFilter(source.Get(), "Source");
    graph.builder->AddFilter(converter.Get(), "Waiting converter");
    graph.builder->AddFilter(sink.Get(), "Sink");
    ASSERT_EQ(graph.builder->Connect(Pin(source.Get(), PINDIR_OUTPUT).Get(), Pin(sink.Get(), PINDIR_INPUT).Get()), S_OK);
    EXPECT_EQ(graph.FilterCount(), 3);
    ComPtr<IPin> peer;
    EXPECT_EQ(Pin(converter.Get(), PINDIR_OUTPUT)->ConnectedTo(peer.Put()), S_OK);
}

TEST(FilterGraph, MembershipByName) {
    Graph graph;
    auto a = Wrap<IBaseFilter>(new RecordingRenderer());
    auto b = Wrap<IBaseFilter>(new RecordingRenderer());
    EXPECT_EQ(graph.builder->AddFilter(a.Get(), "Same"), S_OK);
    EXPECT_EQ(graph.builder->AddFilter(b.Get(), "Same"), VFW_S_DUPLICATE_NAME);
    EXPECT_EQ(graph.builder->AddFilter(a.Get(), "Again"), E_INVALIDARG);
    FILTER_INFO info;
    ASSERT_EQ(b->QueryFilterInfo(&info), S_OK);
    EXPECT_EQ(info.achName, "Same 1");
    EXPECT_TRUE(IsSameObject(info.pGraph, graph.builder.Get()));
    info.pGraph->Release();
    ComPtr<IBaseFilter> found;
    EXPECT_EQ(graph.builder->FindFilterByName("Same", found.Put()), S_OK);
    EXPECT_TRUE(IsSameObject(found.Get(), a.Get()));
    EXPECT_EQ(graph.builder->RemoveFilter(a.Get()), S_OK);
    EXPECT_EQ(graph.builder->RemoveFilter(a.Get()), VFW_E_NOT_FOUND);
    EXPECT_EQ(graph.builder->FindFilterByName("Same", found.Put()), VFW_E_NOT_FOUND);
    ASSERT_EQ(a->QueryFilterInfo(&info), S_OK);
    EXPECT_EQ(info.pGraph, nullptr);
}

TEST(FilterGraph, RemovingAFilterDisconnectsItsNeighbours) {
    Graph graph;
    auto source = Wrap<IBaseFilter>(new TestSource("Source", kYuy2));
    auto sink = Wrap<IBaseFilter>(new RecordingRenderer());
    graph.builder->AddFilter(source.Get(), "Source");
    graph.builder->AddFilter(sink.Get(), "Sink");
    ASSERT_EQ(graph.builder->Connect(Pin(source.Get(), PINDIR_OUTPUT).Get(), Pin(sink.Get(), PINDIR_INPUT).Get()), S_OK);
    ASSERT_EQ(graph.builder->RemoveFilter(sink.Get()), S_OK);
    ComPtr<IPin> peer;
    EXPECT_EQ(Pin(source.Get(), PINDIR_OUTPUT)->ConnectedTo(peer.Put()), VFW_E_NOT_CONNECTED);
}

constexpr CLSID kRendererClass = MakeGuid("{7E57C0DE-0002-4000-8000-0000000C0DE2}");

TEST(CaptureGraphBuilder, RendersThroughAnIntermediateOrToARegisteredRenderer) {
    Graph graph;
    ComPtr<ICaptureGraphBuilder2> capture;
    ASSERT_EQ(CoCreate(CLSID_CaptureGraphBuilder2, &capture), S_OK);
    ComPtr<IUnknown> source = Wrap<IUnknown>(new TestSource("Source", kYuy2));
    EXPECT_EQ(capture->RenderStream(nullptr, nullptr, source.Get(), nullptr, nullptr), E_UNEXPECTED);
    ASSERT_EQ(capture->SetFiltergraph(graph.builder.Get()), S_OK);
    auto sourceFilter = source.As<IBaseFilter>();
    auto copy = Wrap<IBaseFilter>(new CopyTransform());
    auto *recorder = new RecordingRenderer();
    auto sink = Wrap<IBaseFilter>(recorder);
    graph.builder->AddFilter(sourceFilter.Get(), "Source");
    graph.builder->AddFilter(copy.Get(), "Copy");
    graph.builder->AddFilter(sink.Get(), "Sink");
    const GUID audio = MEDIATYPE_Audio;
    EXPECT_EQ(capture->RenderStream(nullptr, &audio, source.Get(), copy.Get(), sink.Get()), E_FAIL);
    ASSERT_EQ(capture->RenderStream(nullptr, nullptr, source.Get(), copy.Get(), sink.Get()), S_OK);
    ASSERT_EQ(graph.control->Run(), S_OK);
    ASSERT_TRUE(WaitFor([&] { return recorder->RenderedCount() >= 2; }));
    graph.control->Stop();

    // With no sink the stream goes to the best registered renderer for it; the test's renderer
    // outranks the layer's own video window.
    ClassRegistry::Instance().RegisterBuiltIn(
        {kRendererClass, "Test Renderer", "", "Both", MERIT_PREFERRED + 1, {CLSID_LegacyAmFilterCategory},
         {{MEDIATYPE_Video, GUID_NULL}}, {}},
        [](IUnknown *, REFIID iid, void **object) { return CreateComObject<RecordingRenderer>(iid, object); });
    Graph second;
    ComPtr<ICaptureGraphBuilder2> builder2;
    ASSERT_EQ(CoCreate(CLSID_CaptureGraphBuilder2, &builder2), S_OK);
    builder2->SetFiltergraph(second.builder.Get());
    auto lone = Wrap<IBaseFilter>(new TestSource("Lone", kYuy2));
    second.builder->AddFilter(lone.Get(), "Lone");
    ASSERT_EQ(builder2->RenderStream(nullptr, nullptr, lone.Get(), nullptr, nullptr), S_OK);
    ComPtr<IBaseFilter> renderer;
    EXPECT_EQ(second.builder->FindFilterByName("Test Renderer", renderer.Put()), S_OK);
    ClassRegistry::Instance().UnregisterBuiltIn(kRendererClass);

    ComPtr<IMemAllocator> found;
    EXPECT_EQ(builder2->FindInterface(nullptr, nullptr, lone.Get(), IID_IMemAllocator, found.PutVoid()), E_NOINTERFACE);
    ComPtr<IPin> pin;
    EXPECT_EQ(builder2->FindInterface(nullptr, nullptr, lone.Get(), IID_IPin, pin.PutVoid()), S_OK);
}

class CountingCallback final : public CUnknown, public ISampleGrabberCB {
public:
    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID iid, void **object) override {
        if (iid == IID_ISampleGrabberCB) return GetInterface(static_cast<ISampleGrabberCB *>(this), object);
        return CUnknown::NonDelegatingQueryInterface(iid, object);
    }
    HRESULT SampleCB(double, IMediaSample *sample) override {
        inCallback = true;
        BYTE *data;
        sample->GetPointer(&data);
        lastFirstByte = data[0];
        samples++;
        if (hold) std::this_thread::sleep_for(std::chrono::milliseconds(hold));
        inCallback = false;
        return S_OK;
    }
    HRESULT BufferCB(double, BYTE *, LONG length) override {
        buffers++;
        lastLength = length;
        return S_OK;
    }
    std::atomic<int> samples{0}, buffers{0}, hold{0};
    std::atomic<bool> inCallback{false};
    std::atomic<int> lastFirstByte{-1};
    std::atomic<LONG> lastLength{0};
};

TEST(SampleGrabber, CallsBackBuffersAndPassesSamplesOn) {
    Graph graph;
    ComPtr<IBaseFilter> grabberFilter;
    ASSERT_EQ(CoCreate(CLSID_SampleGrabber, &grabberFilter), S_OK);
    auto grabber = grabberFilter.As<ISampleGrabber>();
    ASSERT_TRUE(grabber);
    AM_MEDIA_TYPE only = Pattern(MEDIATYPE_Video, MEDIASUBTYPE_YUY2);
    grabber->SetMediaType(&only);
    ComPtr<CountingCallback> callback(new CountingCallback());
    ASSERT_EQ(grabber->SetCallback(callback.Get(), 0), S_OK);
    EXPECT_EQ(grabber->SetCallback(callback.Get(), 2), E_INVALIDARG);
    ASSERT_EQ(grabber->SetBufferSamples(1), S_OK);
    LONG size = 0;
    EXPECT_EQ(grabber->GetCurrentBuffer(&size, nullptr), VFW_E_WRONG_STATE);

    auto codedSource = Wrap<IBaseFilter>(new TestSource("Coded", kTestCodec));
    auto source = Wrap<IBaseFilter>(new TestSource("Source", kYuy2));
    auto *recorder = new RecordingRenderer();
    auto sink = Wrap<IBaseFilter>(recorder);
    for (auto &[f, n] : {std::pair{codedSource, "Coded"}, {source, "Source"}, {grabberFilter, "Grabber"}, {sink, "Sink"}})
        graph.builder->AddFilter(f.Get(), n);
    EXPECT_EQ(graph.builder->ConnectDirect(Pin(codedSource.Get(), PINDIR_OUTPUT).Get(),
                                           Pin(grabberFilter.Get(), PINDIR_INPUT).Get(), nullptr),
              VFW_E_NO_ACCEPTABLE_TYPES);
    AM_MEDIA_TYPE connected;
    EXPECT_EQ(grabber->GetConnectedMediaType(&connected), VFW_E_NOT_CONNECTED);
    ASSERT_EQ(graph.builder->Connect(Pin(source.Get(), PINDIR_OUTPUT).Get(), Pin(grabberFilter.Get(), PINDIR_INPUT).Get()), S_OK);
    ASSERT_EQ(graph.builder->Connect(Pin(grabberFilter.Get(), PINDIR_OUTPUT).Get(), Pin(sink.Get(), PINDIR_INPUT).Get()), S_OK);
    ASSERT_EQ(grabber->GetConnectedMediaType(&connected), S_OK);
    EXPECT_TRUE(MediaTypesEqual(connected, kYuy2));

    ASSERT_EQ(graph.control->Run(), S_OK);
    ASSERT_TRUE(WaitFor([&] { return recorder->RenderedCount() >= 4; }));
    graph.control->Stop();
    EXPECT_GE(callback->samples.load(), 4);
    ASSERT_EQ(grabber->GetCurrentBuffer(&size, nullptr), S_OK);
    EXPECT_EQ(size, 64 * 48 * 2);
    std::vector<LONG> copy(size_t(size) / sizeof(LONG));
    LONG small = 4;
    EXPECT_EQ(grabber->GetCurrentBuffer(&small, copy.data()), E_OUTOFMEMORY);
    ASSERT_EQ(grabber->GetCurrentBuffer(&size, copy.data()), S_OK);
    EXPECT_EQ(reinterpret_cast<BYTE *>(copy.data())[0], BYTE(callback->lastFirstByte.load()));
    // The renderer saw the grabbed bytes unchanged.
    const auto samples = recorder->Samples();
    EXPECT_EQ(samples.back().bytes.front(), samples.back().bytes.back());

    ASSERT_EQ(grabber->SetCallback(callback.Get(), 1), S_OK);
    ASSERT_EQ(graph.control->Run(), S_OK);
    ASSERT_TRUE(WaitFor([&] { return callback->buffers.load() >= 2; }));
    graph.control->Stop();
    EXPECT_EQ(callback->lastLength.load(), 64 * 48 * 2);
}

TEST(SampleGrabber, SetCallbackWaitsForTheCallbackInProgress) {
    Graph graph;
    ComPtr<IBaseFilter> grabberFilter;
    ASSERT_EQ(CoCreate(CLSID_SampleGrabber, &grabberFilter), S_OK);
    auto grabber = grabberFilter.As<ISampleGrabber>();
    ComPtr<CountingCallback> callback(new CountingCallback());
    callback->hold = 20;
    grabber->SetCallback(callback.Get(), 0);
    auto source = Wrap<IBaseFilter>(new TestSource("Source", kYuy2));
    ComPtr<IBaseFilter> nullRenderer;
    ASSERT_EQ(CoCreate(CLSID_NullRenderer, &nullRenderer), S_OK);
    graph.builder->AddFilter(source.Get(), "Source");
    graph.builder->AddFilter(grabberFilter.Get(), "Grabber");
    graph.builder->AddFilter(nullRenderer.Get(), "Null");
    ASSERT_EQ(graph.builder->Connect(Pin(source.Get(), PINDIR_OUTPUT).Get(), Pin(grabberFilter.Get(), PINDIR_INPUT).Get()), S_OK);
    ASSERT_EQ(graph.builder->Connect(Pin(grabberFilter.Get(), PINDIR_OUTPUT).Get(), Pin(nullRenderer.Get(), PINDIR_INPUT).Get()), S_OK);
    ASSERT_EQ(graph.control->Run(), S_OK);
    ASSERT_TRUE(WaitFor([&] { return callback->inCallback.load(); }));
    ASSERT_EQ(grabber->SetCallback(nullptr, 0), S_OK);
    EXPECT_FALSE(callback->inCallback.load());
    const int seen = callback->samples;
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(callback->samples.load(), seen);
    graph.control->Stop();
}

}  // namespace
