// The push source: pins, types, buffer sizes, delivery, the pause behaviour, and deliveries
// from several threads while the graph is run, paused, stopped and released.

#include "capture/DeliverSources.h"

#include "app/Log.h"

#include "TestFilters.h"
#include "compat/com/ClassRegistry.h"
#include "compat/dshow/FilterGraph.h"
#include "compat/dshow/Uuids.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {

const AM_MEDIA_TYPE kYuy2 = MakeVideoType(MEDIASUBTYPE_YUY2, 16, 8, 16);  // 256-byte frames

ComPtr<IPin> PinOf(IBaseFilter *filter, PIN_DIRECTION direction, size_t index = 0) {
    auto pins = PinsOf(filter, direction);
    return index < pins.size() ? pins[index] : nullptr;
}

struct Source {
    TDeliverSource *filter = new TDeliverSource("FCamSource1");
    ComPtr<IBaseFilter> base = Wrap<IBaseFilter>(filter);
    ComPtr<IDeliverControl> control = base.As<IDeliverControl>();
};

TEST(DeliverSource, StartsWithOnePinOutWithoutAType) {
    Source s;
    ASSERT_TRUE(s.control);
    ASSERT_EQ(s.filter->GetPinCount(), 1);
    EXPECT_EQ(s.filter->GetPin(0)->Name(), "Out");
    EXPECT_TRUE(s.filter->GetPin(0)->CurrentMediaType().IsEmpty());
    EXPECT_EQ(s.filter->GetPin(1), nullptr);
    EXPECT_EQ(s.filter->GetPin(-1), nullptr);
    CLSID clsid;
    ASSERT_EQ(s.base->GetClassID(&clsid), S_OK);
    EXPECT_EQ(GuidToString(clsid), "{891A04F1-BD06-4660-BE42-0C66FD85E137}");
    auto flags = s.base.As<IAMFilterMiscFlags>();
    ASSERT_TRUE(flags);
    EXPECT_EQ(flags->GetMiscFlags(), 2u);
    CAUUID pages;
    EXPECT_EQ(s.base.As<ISpecifyPropertyPages>()->GetPages(&pages), E_NOTIMPL);
    FILTER_INFO info;
    s.base->QueryFilterInfo(&info);
    EXPECT_EQ(info.achName, "FCamSource1");
}

TEST(DeliverSource, SetPinNamesAndTypesAPin) {
    Source s;
    ASSERT_EQ(s.control->SetPin(0, "out1", &kYuy2), S_OK);
    EXPECT_EQ(s.filter->GetPin(0)->Name(), "out1");
    EXPECT_TRUE(MediaTypesEqual(s.filter->GetPin(0)->CurrentMediaType(), kYuy2));
    EXPECT_EQ(s.control->SetPin(1, "out2", &kYuy2), E_INVALIDARG);
    EXPECT_EQ(s.control->SetPin(-1, "out2", &kYuy2), E_INVALIDARG);
    EXPECT_EQ(s.control->SetPin(0, "out1", nullptr), E_POINTER);
    AM_MEDIA_TYPE shortBlock = kYuy2;
    shortBlock.SetFormat(shortBlock.pbFormat, 40);
    EXPECT_EQ(s.control->SetPin(0, "out1", &shortBlock), VFW_E_INVALIDMEDIATYPE);
}

TEST(DeliverSource, SetPinCountAddsAndFreesPinsAtTheEnd) {
    Source s;
    s.control->SetPin(0, "first", &kYuy2);
    ASSERT_EQ(s.control->SetPinCount(3), S_OK);
    ASSERT_EQ(s.filter->GetPinCount(), 3);
    EXPECT_EQ(s.filter->GetPin(0)->Name(), "first");
    EXPECT_EQ(s.filter->GetPin(2)->Name(), "Out");
    ASSERT_EQ(s.control->SetPinCount(3), S_OK);
    ASSERT_EQ(s.control->SetPinCount(1), S_OK);
    ASSERT_EQ(s.filter->GetPinCount(), 1);
    EXPECT_EQ(s.filter->GetPin(0)->Name(), "first");
    EXPECT_EQ(s.control->SetPinCount(-1), E_INVALIDARG);
    ASSERT_EQ(s.control->SetPinCount(0), S_OK);
    EXPECT_EQ(s.control->DeliverBuffer(0, reinterpret_cast<const BYTE *>("x"), 1, 0), S_FALSE);
}

TEST(DeliverSource, PinOffersOneTypeAndAcceptsItsMajorType) {
    Source s;
    s.control->SetPin(0, "out1", &kYuy2);
    CBasePin *pin = s.filter->GetPin(0);
    AM_MEDIA_TYPE offered;
    ASSERT_EQ(pin->GetMediaType(0, &offered), S_OK);
    EXPECT_TRUE(MediaTypesEqual(offered, kYuy2));
    EXPECT_EQ(pin->GetMediaType(1, &offered), VFW_S_NO_MORE_ITEMS);
    EXPECT_EQ(uint32_t(pin->GetMediaType(1, &offered)), 262403u);
    const AM_MEDIA_TYPE rgb = MakeVideoType(MEDIASUBTYPE_RGB24, 999, 3, 24);
    EXPECT_EQ(pin->CheckMediaType(&rgb), S_OK);
    const AM_MEDIA_TYPE audio = MakePcmAudioType(44100, 2, 16);
    EXPECT_EQ(pin->CheckMediaType(&audio), E_INVALIDARG);
}

TEST(DeliverSource, VideoTypesAreNormalised) {
    struct Case {
        GUID formattype;
        int32_t width, height;
        uint16_t bits;
        uint32_t givenSize;
        REFERENCE_TIME givenDuration;
        uint32_t size;
        REFERENCE_TIME duration;
    } cases[] = {
        {FORMAT_VideoInfo, 640, 480, 16, 0, 0, 614400, 400000},
        {FORMAT_VideoInfo, 640, 480, 24, 12345, 666666, 921600, 666666},
        {FORMAT_VideoInfo, 640, -480, 32, 0, 0, 1228800, 400000},  // top-down
        {FORMAT_VideoInfo2, 1280, 720, 16, 7, 0, 1843200, 400000},
    };
    for (const Case &c : cases) {
        AM_MEDIA_TYPE type = MakeVideoType(MEDIASUBTYPE_YUY2, c.width, c.height, c.bits, c.givenDuration);
        if (c.formattype == FORMAT_VideoInfo2) {
            VIDEOINFOHEADER2 vih2;
            vih2.AvgTimePerFrame = c.givenDuration;
            vih2.bmiHeader = type.VideoInfo()->bmiHeader;
            type.formattype = FORMAT_VideoInfo2;
            type.SetFormat(&vih2, sizeof vih2);
        }
        type.BitmapHeader()->biSizeImage = c.givenSize;
        Source s;
        ASSERT_EQ(s.control->SetPin(0, "out1", &type), S_OK);
        const AM_MEDIA_TYPE &stored = s.filter->GetPin(0)->CurrentMediaType();
        ASSERT_NE(stored.BitmapHeader(), nullptr);
        EXPECT_EQ(stored.BitmapHeader()->biSizeImage, c.size) << c.width << "x" << c.height << "x" << c.bits;
        EXPECT_EQ(stored.AvgTimePerFrame(), c.duration);
    }
}

// An allocator that grants a set buffer size, or fails.
class StingyAllocator final : public CUnknown, public IMemAllocator {
public:
    StingyAllocator(LONG grant, HRESULT result) : grant(grant), result(result) {}
    DECLARE_IUNKNOWN
    HRESULT SetProperties(const ALLOCATOR_PROPERTIES *request, ALLOCATOR_PROPERTIES *actual) override {
        asked = *request;
        *actual = *request;
        actual->cbBuffer = grant;
        return result;
    }
    HRESULT GetProperties(ALLOCATOR_PROPERTIES *) override { return E_NOTIMPL; }
    HRESULT Commit() override { return E_NOTIMPL; }
    HRESULT Decommit() override { return E_NOTIMPL; }
    HRESULT GetBuffer(IMediaSample **, REFERENCE_TIME *, REFERENCE_TIME *, DWORD) override { return E_NOTIMPL; }
    HRESULT ReleaseBuffer(IMediaSample *) override { return E_NOTIMPL; }
    LONG grant;
    HRESULT result;
    ALLOCATOR_PROPERTIES asked;
};

TEST(DeliverSource, BufferSizeFollowsTheFormat) {
    AM_MEDIA_TYPE cd = MakePcmAudioType(44100, 2, 16);  // 176400 bytes per second
    AM_MEDIA_TYPE slow = MakePcmAudioType(39, 1, 8);     // 39 bytes per second
    AM_MEDIA_TYPE stream;
    stream.majortype = MEDIATYPE_Video;
    stream.formattype = FORMAT_None;
    AM_MEDIA_TYPE unsized = MakeVideoType(MEDIASUBTYPE_MJPG, 640, 480, 0);
    struct Case {
        const char *what;
        const AM_MEDIA_TYPE *type;
        LONG size;
    } cases[] = {{"yuy2", &kYuy2, 256}, {"cd audio", &cd, 8820}, {"slow audio", &slow, 524288},
                 {"other format", &stream, 524288}, {"no bit count", &unsized, 524288}};
    for (const Case &c : cases) {
        Source s;
        ASSERT_EQ(s.control->SetPin(0, "out1", c.type), S_OK) << c.what;
        auto *pin = static_cast<TPushPin *>(s.filter->GetPin(0));
        ComPtr<StingyAllocator> allocator(new StingyAllocator(c.size, S_OK));
        ALLOCATOR_PROPERTIES request;
        EXPECT_EQ(pin->DecideBufferSize(allocator.Get(), &request), S_OK) << c.what;
        EXPECT_EQ(allocator->asked.cbBuffer, c.size) << c.what;
        EXPECT_EQ(allocator->asked.cBuffers, 1) << c.what;

        allocator->grant = c.size - 1;
        EXPECT_EQ(pin->DecideBufferSize(allocator.Get(), &request), E_FAIL) << c.what;
        allocator->result = VFW_E_ALREADY_COMMITTED;
        EXPECT_EQ(pin->DecideBufferSize(allocator.Get(), &request), VFW_E_ALREADY_COMMITTED) << c.what;
        EXPECT_EQ(pin->DecideBufferSize(nullptr, &request), E_POINTER);
        EXPECT_EQ(pin->DecideBufferSize(allocator.Get(), nullptr), E_POINTER);
    }
}

// Push source → recorder in a graph.
struct Rig {
    Source source;
    RecordingRenderer *recorder = new RecordingRenderer();
    ComPtr<IBaseFilter> sink = Wrap<IBaseFilter>(recorder);
    ComPtr<IGraphBuilder> graph;
    ComPtr<IMediaControl> control;

    explicit Rig(bool connect = true) {
        EXPECT_EQ(CoCreate(CLSID_FilterGraph, &graph), S_OK);
        control = graph.As<IMediaControl>();
        source.control->SetPin(0, "out1", &kYuy2);
        graph->AddFilter(source.base.Get(), "CamSource1");
        graph->AddFilter(sink.Get(), "Sink");
        if (connect) {
            EXPECT_EQ(graph->Connect(PinOf(source.base.Get(), PINDIR_OUTPUT).Get(), PinOf(sink.Get(), PINDIR_INPUT).Get()), S_OK);
        }
    }
    HRESULT Deliver(BYTE value, LONG length = 256, BOOL sync = 0) {
        std::vector<BYTE> frame(size_t(std::max<LONG>(length, 0)), value);
        return source.control->DeliverBuffer(0, frame.data(), length, sync);
    }
};

TEST(DeliverSource, TheFirstFailedDeliveryOfEachRunIsLogged) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    OpenProgramLog(folder.path() + QStringLiteral("/"), QStringLiteral("log.txt"));
    const auto failures = [&] {
        QFile file(ProgramLogPath());
        if (!file.open(QIODevice::ReadOnly)) return -1;
        return int(file.readAll().count(QStringLiteral("a frame was not delivered").toUtf8()));
    };
    Rig rig;
    ASSERT_EQ(rig.control->Run(), S_OK);
    EXPECT_EQ(rig.Deliver(1, 257), VFW_E_BUFFER_OVERFLOW);
    EXPECT_EQ(rig.Deliver(2, 300), VFW_E_BUFFER_OVERFLOW);
    EXPECT_EQ(failures(), 1) << "once per run";
    rig.control->Stop();
    EXPECT_EQ(rig.Deliver(3, 257), S_FALSE) << "stopped: not a failure";
    ASSERT_EQ(rig.control->Run(), S_OK);
    EXPECT_EQ(rig.Deliver(4, 257), VFW_E_BUFFER_OVERFLOW);
    EXPECT_EQ(failures(), 2) << "again in the next run";
    rig.control->Stop();
    CloseProgramLog();
}

TEST(DeliverSource, DeliversCopiesOfFramesOnTheCallersThread) {
    Rig rig;
    std::thread::id receiver;
    rig.recorder->SetOnSample([&](IMediaSample *) { receiver = std::this_thread::get_id(); });
    EXPECT_EQ(rig.Deliver(1), S_FALSE) << "stopped";
    ASSERT_EQ(rig.control->Run(), S_OK);
    EXPECT_EQ(rig.Deliver(7, 256, 1), S_OK);
    EXPECT_EQ(rig.Deliver(8, 100, 0), S_OK);
    EXPECT_EQ(rig.Deliver(9, 257), VFW_E_BUFFER_OVERFLOW) << "larger than the sample: dropped";
    EXPECT_EQ(rig.source.control->DeliverBuffer(0, nullptr, 10, 0), E_POINTER);
    const BYTE some[4] = {};
    EXPECT_EQ(rig.source.control->DeliverBuffer(0, some, -1, 0), E_INVALIDARG);
    EXPECT_EQ(rig.source.control->DeliverBuffer(1, reinterpret_cast<const BYTE *>("x"), 1, 0), S_FALSE);
    rig.control->Stop();

    const auto samples = rig.recorder->Samples();
    ASSERT_EQ(samples.size(), 2u);
    EXPECT_EQ(samples[0].bytes, std::vector<BYTE>(256, 7));
    EXPECT_TRUE(samples[0].syncPoint);
    EXPECT_FALSE(samples[0].hasTime);
    EXPECT_EQ(samples[1].bytes, std::vector<BYTE>(100, 8)) << "the sample carries the delivered length";
    EXPECT_FALSE(samples[1].syncPoint);
    EXPECT_EQ(receiver, std::this_thread::get_id());
}

TEST(DeliverSource, UnconnectedPinDeliversNothing) {
    Rig rig(false);
    ASSERT_EQ(rig.control->Run(), S_OK);
    EXPECT_EQ(rig.Deliver(1), S_FALSE);
    EXPECT_EQ(rig.recorder->RenderedCount(), 0u);
}

TEST(DeliverSource, AfterPausingARunningFilterDeliveriesStayDroppedUntilStopAndRun) {
    Rig rig;
    ASSERT_EQ(rig.control->Run(), S_OK);
    ASSERT_EQ(rig.Deliver(1), S_OK);
    ASSERT_EQ(rig.control->Pause(), S_OK);
    EXPECT_EQ(rig.Deliver(2), S_FALSE);
    ASSERT_EQ(rig.control->Run(), S_OK);
    EXPECT_EQ(rig.Deliver(3), S_FALSE) << "still silent after running again";
    EXPECT_EQ(rig.source.control->SetPinCount(2), E_ACCESSDENIED);
    EXPECT_EQ(rig.source.control->SetPin(0, "x", &kYuy2), E_ACCESSDENIED);
    ASSERT_EQ(rig.control->Stop(), S_OK);
    ASSERT_EQ(rig.control->Run(), S_OK);
    EXPECT_EQ(rig.Deliver(4), S_OK);
    rig.control->Stop();
    const auto samples = rig.recorder->Samples();
    ASSERT_EQ(samples.size(), 2u);
    EXPECT_EQ(samples[1].bytes[0], 4);
    // A paused filter that was never running still delivers (its pins were just activated).
    ASSERT_EQ(rig.control->Pause(), S_OK);
    EXPECT_EQ(rig.Deliver(5), S_OK);
}

TEST(DeliverSource, ASlowConsumerHoldsUpTheNextDelivery) {
    Rig rig;
    // A flag rather than a held mutex: the consumer must not hold a lock the stopping
    // thread could be ordered against.
    std::atomic<bool> released{false};
    std::atomic<int> entered{0};
    rig.recorder->SetOnSample([&](IMediaSample *) {
        entered++;
        while (!released) std::this_thread::yield();
    });
    ASSERT_EQ(rig.control->Run(), S_OK);
    std::atomic<int> done{0};
    std::thread first([&] { rig.Deliver(1); done++; });
    while (entered < 1) std::this_thread::yield();
    std::thread second([&] { rig.Deliver(2); done++; });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(done.load(), 0) << "the one buffer is downstream: the second delivery waits";
    released = true;
    first.join();
    second.join();
    EXPECT_EQ(done.load(), 2);
    EXPECT_EQ(rig.recorder->RenderedCount(), 2u);
    rig.control->Stop();
}

TEST(DeliverSource, StopReleasesADeliveryWaitingForTheBuffer) {
    Rig rig;
    std::atomic<bool> released{false};
    std::atomic<int> entered{0};
    rig.recorder->SetOnSample([&](IMediaSample *) {
        if (entered++ == 0)
            while (!released) std::this_thread::yield();
    });
    ASSERT_EQ(rig.control->Run(), S_OK);
    std::thread holder([&] { rig.Deliver(1); });
    while (entered < 1) std::this_thread::yield();
    std::atomic<HRESULT> waiting{S_OK - 1};
    std::thread waiter([&] { waiting = rig.Deliver(2); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    // The stop must wake the waiter (decommit) and wait for the holder; let the holder go
    // from another thread once the stop is under way.
    std::thread release([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        released = true;
    });
    ASSERT_EQ(rig.control->Stop(), S_OK);
    release.join();
    holder.join();
    waiter.join();
    EXPECT_NE(waiting.load(), S_OK);
    EXPECT_EQ(rig.Deliver(3), S_FALSE);
}

// Several threads deliver into three pins while the main thread runs, pauses and stops the
// graph over and over, then releases it while they still deliver.
TEST(DeliverSource, DeliveriesFromManyThreadsSurviveStateChangesAndRelease) {
    Source source;
    source.control->SetPinCount(3);
    for (int i = 0; i < 3; ++i) source.control->SetPin(i, ("out" + std::to_string(i)).c_str(), &kYuy2);
    ComPtr<IGraphBuilder> graph;
    ASSERT_EQ(CoCreate(CLSID_FilterGraph, &graph), S_OK);
    auto control = graph.As<IMediaControl>();
    graph->AddFilter(source.base.Get(), "Source");
    // Pin 0 through a copying transform and a grabber; pin 1 to a recorder; pin 2 to a null
    // renderer.
    auto copy = Wrap<IBaseFilter>(new CopyTransform());
    ComPtr<IBaseFilter> grabber, null1, null2;
    ASSERT_EQ(CoCreate(CLSID_SampleGrabber, &grabber), S_OK);
    ASSERT_EQ(CoCreate(CLSID_NullRenderer, &null1), S_OK);
    ASSERT_EQ(CoCreate(CLSID_NullRenderer, &null2), S_OK);
    auto *recorder = new RecordingRenderer();
    recorder->SetKeepBytes(false);
    auto sink = Wrap<IBaseFilter>(recorder);
    graph->AddFilter(copy.Get(), "Copy");
    graph->AddFilter(grabber.Get(), "Grabber");
    graph->AddFilter(sink.Get(), "Recorder");
    graph->AddFilter(null1.Get(), "Null 1");
    graph->AddFilter(null2.Get(), "Null 2");
    auto out = PinsOf(source.base.Get(), PINDIR_OUTPUT);
    ASSERT_EQ(graph->Connect(out[0].Get(), PinOf(copy.Get(), PINDIR_INPUT).Get()), S_OK);
    ASSERT_EQ(graph->Connect(PinOf(copy.Get(), PINDIR_OUTPUT).Get(), PinOf(grabber.Get(), PINDIR_INPUT).Get()), S_OK);
    ASSERT_EQ(graph->Connect(PinOf(grabber.Get(), PINDIR_OUTPUT).Get(), PinOf(null1.Get(), PINDIR_INPUT).Get()), S_OK);
    ASSERT_EQ(graph->Connect(out[1].Get(), PinOf(sink.Get(), PINDIR_INPUT).Get()), S_OK);
    ASSERT_EQ(graph->Connect(out[2].Get(), PinOf(null2.Get(), PINDIR_INPUT).Get()), S_OK);

    std::atomic<bool> stop{false};
    std::atomic<long> delivered{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t, keep = source.control] {
            std::vector<BYTE> frame(256, BYTE(t));
            while (!stop) {
                if (keep->DeliverBuffer(t % 3, frame.data(), LONG(frame.size()), t & 1) == S_OK) delivered++;
            }
        });
    for (int i = 0; i < 2000; ++i) {
        ASSERT_EQ(control->Run(), S_OK);
        if (i % 3 == 0) {
            ASSERT_EQ(control->Pause(), S_OK);
        }
        if (i % 7 == 0) std::this_thread::yield();
        ASSERT_EQ(control->Stop(), S_OK);
    }
    ASSERT_EQ(control->Run(), S_OK);
    while (delivered < 100) std::this_thread::yield();
    // Release the graph under the deliverers' feet; they hold the filter, not the graph.
    control = nullptr;
    graph = nullptr;
    copy = nullptr;
    grabber = nullptr;
    null1 = nullptr;
    null2 = nullptr;
    sink = nullptr;
    EXPECT_EQ(source.control->DeliverBuffer(0, std::vector<BYTE>(256).data(), 256, 0), S_FALSE);
    stop = true;
    for (auto &thread : threads) thread.join();
    EXPECT_GT(delivered.load(), 100);
}

}  // namespace
