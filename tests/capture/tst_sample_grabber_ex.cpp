// The sample grabber component: its filter's life in the graph, the hand-over of samples to
// the handler, and handlers that fail or change while samples flow.

#include "capture/DSUtilEx.h"
#include "capture/SampleGrabberExs.h"

#include "TestFilters.h"
#include "compat/com/ClassRegistry.h"
#include "compat/dshow/FilterGraph.h"
#include "compat/dshow/Uuids.h"

#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <thread>

namespace {

template <class Condition>
bool WaitFor(Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

const AM_MEDIA_TYPE kYuy2 = MakeVideoType(MEDIASUBTYPE_YUY2, 32, 24, 16);

// source → grabber → recorder in an active graph component.
struct Chain {
    TFilterGraph graph{"FilterGraphTest"};
    TSampleGrabberEx grabber{"FSampleGrabber"};
    RecordingRenderer *recorder = new RecordingRenderer();
    ComPtr<IBaseFilter> source = Wrap<IBaseFilter>(new TestSource("Source", kYuy2));
    ComPtr<IBaseFilter> sink = Wrap<IBaseFilter>(recorder);

    void Build() {
        ASSERT_TRUE(graph.SetActive(true));
        grabber.SetFilterGraph(&graph);
        ASSERT_EQ(graph.GraphBuilder()->AddFilter(source.Get(), "Source"), S_OK);
        ASSERT_EQ(graph.GraphBuilder()->AddFilter(sink.Get(), "Sink"), S_OK);
        CheckDSResult(ConnectFilters(source.Get(), &grabber), "Source --> FSampleGrabber");
        CheckDSResult(ConnectFilters(&grabber, sink.Get()), "FSampleGrabber --> Sink");
    }
};

TEST(SampleGrabberEx, FilterExistsOnlyWhileInAnActiveGraph) {
    TFilterGraph graph;
    TSampleGrabberEx grabber;
    EXPECT_FALSE(grabber.GetFilter());
    grabber.SetFilterGraph(&graph);
    EXPECT_FALSE(grabber.GetFilter());
    ComPtr<IBaseFilter> asFilter;
    EXPECT_EQ(grabber.QueryInterface(IID_IBaseFilter, asFilter.PutVoid()), E_NOINTERFACE);
    ASSERT_TRUE(graph.SetActive(true));
    ASSERT_TRUE(grabber.GetFilter());
    ASSERT_TRUE(grabber.SampleGrabber());
    // Queries go on to the filter, so the component stands wherever a filter is expected.
    ASSERT_EQ(grabber.QueryInterface(IID_IBaseFilter, asFilter.PutVoid()), S_OK);
    EXPECT_TRUE(IsSameObject(asFilter.Get(), grabber.GetFilter().Get()));
    ComPtr<IBaseFilter> inGraph;
    EXPECT_EQ(graph.GraphBuilder()->FindFilterByName("SampleGrabber", inGraph.Put()), S_OK);
    AM_MEDIA_TYPE type;
    EXPECT_EQ(grabber.GetConnectedMediaType(&type), VFW_E_NOT_CONNECTED);

    TFilterGraph other;
    other.SetActive(true);
    grabber.SetFilterGraph(&other);  // moves
    EXPECT_EQ(graph.GraphBuilder()->FindFilterByName("SampleGrabber", inGraph.Put()), VFW_E_NOT_FOUND);
    EXPECT_EQ(other.GraphBuilder()->FindFilterByName("SampleGrabber", inGraph.Put()), S_OK);
    inGraph = nullptr;
    asFilter = nullptr;
    other.SetActive(false);
    EXPECT_FALSE(grabber.GetFilter());
    EXPECT_FALSE(grabber.SampleGrabber());
}

TEST(SampleGrabberEx, CreationFailsWhenNoGrabberCanBeMade) {
    auto &registry = ClassRegistry::Instance();
    auto saved = registry.BuiltIn(CLSID_SampleGrabber);
    ASSERT_TRUE(saved);
    registry.UnregisterBuiltIn(CLSID_SampleGrabber);
    try {
        TSampleGrabberEx grabber;
        ADD_FAILURE() << "created without a grabber class";
    } catch (const EDirectShowError &e) {
        EXPECT_EQ(e.Message(), " The SampleGrabber Filter is not available on this system. ");
    }
    registry.RegisterBuiltIn(saved->first, saved->second);
}

TEST(SampleGrabberEx, HandsEverySampleToTheHandlerOnTheStreamingThread) {
    Chain chain;
    std::atomic<int> calls{0};
    std::atomic<bool> rightSender{true}, sameLength{true};
    std::thread::id streamingThread;
    chain.grabber.SetOnSample([&](TSampleGrabberEx *sender, IMediaSample *sample, double) {
        if (sender != &chain.grabber) rightSender = false;
        if (sample->GetActualDataLength() != 32 * 24 * 2) sameLength = false;
        streamingThread = std::this_thread::get_id();
        calls++;
    });
    chain.Build();
    AM_MEDIA_TYPE connected;
    ASSERT_EQ(chain.grabber.GetConnectedMediaType(&connected), S_OK);
    EXPECT_TRUE(MediaTypesEqual(connected, kYuy2));
    ASSERT_TRUE(chain.graph.Play());
    ASSERT_TRUE(WaitFor([&] { return calls >= 3 && chain.recorder->RenderedCount() >= 3; }));
    chain.graph.Stop();
    EXPECT_TRUE(rightSender);
    EXPECT_TRUE(sameLength);
    EXPECT_NE(streamingThread, std::this_thread::get_id());
}

TEST(SampleGrabberEx, WithoutAHandlerSamplesPassUnchanged) {
    Chain chain;
    chain.Build();
    EXPECT_FALSE(chain.grabber.HasOnSample());
    ASSERT_TRUE(chain.graph.Play());
    ASSERT_TRUE(WaitFor([&] { return chain.recorder->RenderedCount() >= 3; }));
    chain.graph.Stop();
    const auto samples = chain.recorder->Samples();
    for (size_t i = 0; i < 3; ++i) {
        ASSERT_EQ(samples[i].bytes.size(), size_t(32 * 24 * 2));
        EXPECT_EQ(samples[i].bytes[0], BYTE(i));
    }
}

TEST(SampleGrabberEx, AFailingHandlerIsCaughtAndStreamingGoesOn) {
    Chain chain;
    std::atomic<int> calls{0};
    chain.grabber.SetOnSample([&](TSampleGrabberEx *, IMediaSample *, double) {
        if (++calls % 2) throw std::runtime_error("handler failed");
        throw 42;  // not even an exception class
    });
    chain.Build();
    ASSERT_TRUE(chain.graph.Play());
    ASSERT_TRUE(WaitFor([&] { return calls >= 5 && chain.recorder->RenderedCount() >= 5; }));
    chain.graph.Stop();
    // The callback itself answers S_OK and leaves its lock free.
    EXPECT_EQ(chain.grabber.SampleCB(0, nullptr), S_OK);
    chain.grabber.SetOnSample(nullptr);
}

TEST(SampleGrabberEx, ClearingTheHandlerWaitsForTheCallInProgress) {
    Chain chain;
    std::atomic<bool> inside{false};
    std::atomic<int> calls{0};
    chain.grabber.SetOnSample([&](TSampleGrabberEx *, IMediaSample *, double) {
        inside = true;
        calls++;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        inside = false;
    });
    chain.Build();
    ASSERT_TRUE(chain.graph.Play());
    ASSERT_TRUE(WaitFor([&] { return inside.load(); }));
    chain.grabber.SetOnSample(nullptr);
    EXPECT_FALSE(inside.load());
    const int seen = calls;
    const uint64_t rendered = chain.recorder->RenderedCount();
    ASSERT_TRUE(WaitFor([&] { return chain.recorder->RenderedCount() >= rendered + 3; }));
    EXPECT_EQ(calls.load(), seen);
    chain.graph.Stop();
}

TEST(SampleGrabberEx, BufferModeHandsOverBytes) {
    Chain chain;
    std::atomic<int> calls{0};
    std::atomic<LONG> length{0};
    chain.grabber.SetOnBuffer([&](TSampleGrabberEx *, BYTE *buffer, LONG size, double) {
        if (buffer) length = size;
        calls++;
    });
    chain.Build();
    chain.grabber.SetWhichMethodToCallback(1);
    ASSERT_TRUE(chain.graph.Play());
    ASSERT_TRUE(WaitFor([&] { return calls >= 2; }));
    chain.graph.Stop();
    EXPECT_EQ(length.load(), 32 * 24 * 2);
    LONG size = 0;
    EXPECT_EQ(chain.grabber.SampleGrabber()->GetCurrentBuffer(&size, nullptr), S_OK);
    EXPECT_EQ(size, 32 * 24 * 2);
    chain.grabber.SetWhichMethodToCallback(0);
    EXPECT_EQ(chain.grabber.CallbackMode(), 0);
}

}  // namespace
