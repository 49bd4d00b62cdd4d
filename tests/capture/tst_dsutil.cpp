// The result check and the graph helpers.

#include "capture/DSUtilEx.h"

#include "compat/dshow/BaseFilter.h"
#include "compat/dshow/FilterGraph.h"

#include <gtest/gtest.h>

namespace {

TEST(CheckDSResult, ReturnsForSuccessAndHighPositiveCodes) {
    for (HRESULT hr : {S_OK, S_FALSE, HRESULT(16000), VFW_S_NO_MORE_ITEMS})
        EXPECT_NO_THROW(CheckDSResult(hr, "step")) << hr;
}

TEST(CheckDSResult, SystemCodesRaiseAnOperatingSystemError) {
    struct Case {
        HRESULT code;
        const char *start;
    } cases[] = {{5, "x[       5]: "}, {2, "x[       2]: "}, {15999, "x[    3E7F]: "}};
    for (const Case &c : cases) {
        try {
            CheckDSResult(c.code, "x");
            ADD_FAILURE() << c.code << " did not raise";
        } catch (const EOSError &e) {
            EXPECT_TRUE(e.Message().startsWith(c.start)) << e.Message().toStdString();
            EXPECT_GT(e.Message().size(), QString(c.start).size()) << "the system text follows";
            EXPECT_EQ(e.ErrorCode(), uint32_t(c.code));
        }
    }
}

TEST(CheckDSResult, FailuresRaiseAMediaErrorWithPathTextCodeAndLabel) {
    try {
        CheckDSResult(VFW_E_NOT_FOUND, " 0 --> 3to1");
        FAIL() << "did not raise";
    } catch (const EDirectShowError &e) {
        const QString text = e.Message();
        EXPECT_TRUE(text.startsWith(ProgramFilePath() + "\r\r")) << text.toStdString();
        EXPECT_TRUE(text.endsWith(" ($80040216). \r\r 0 --> 3to1")) << text.toStdString();
        EXPECT_TRUE(text.contains("An object or name was not found."));
        EXPECT_EQ(e.ErrorCode(), VFW_E_NOT_FOUND);
    }
    EXPECT_THROW(CheckDSResult(E_FAIL, "l"), EDirectShowError);
    EXPECT_TRUE(DSResultMessage(E_INVALIDARG, "l").endsWith(" ($80070057). \r\rl"));
}

TEST(ProgramFile, NamesTheRunningExecutable) {
    EXPECT_TRUE(ProgramFilePath().endsWith("/tst_dsutil"));
}

TEST(SubtypeName, ShortUpperCaseNames) {
    struct Case {
        GUID subtype;
        const char *name;
    } cases[] = {{MEDIASUBTYPE_MJPG, "MJPG"}, {MEDIASUBTYPE_YUY2, "YUY2"},   {MEDIASUBTYPE_RGB24, "RGB24"},
                 {MEDIASUBTYPE_RGB32, "RGB32"}, {MEDIASUBTYPE_RAW_AAC1, "RAW_A"}, {GUID_NULL, ""}};
    for (const Case &c : cases) EXPECT_EQ(SubtypeName(c.subtype), c.name);
}

// A filter with a given number of input and output pins that offer YUY2.
class PinFilter final : public CBaseFilter {
public:
    PinFilter(int inputs, int outputs) : CBaseFilter("Pins", &lock, GUID_NULL) {
        HRESULT hr = S_OK;
        // Interleave directions so that counting by direction matters.
        for (int i = 0; i < std::max(inputs, outputs); ++i) {
            if (i < outputs) pins.push_back(std::make_unique<Out>(this, &lock, &hr, ("out" + std::to_string(i)).c_str()));
            if (i < inputs) pins.push_back(std::make_unique<In>(this, &lock, &hr, ("in" + std::to_string(i)).c_str()));
        }
    }
    int GetPinCount() override { return int(pins.size()); }
    CBasePin *GetPin(int n) override { return n >= 0 && n < int(pins.size()) ? pins[n].get() : nullptr; }

private:
    struct In final : CBaseInputPin {
        using CBaseInputPin::CBaseInputPin;
        HRESULT CheckMediaType(const AM_MEDIA_TYPE *) override { return S_OK; }
    };
    struct Out final : CBaseOutputPin {
        using CBaseOutputPin::CBaseOutputPin;
        HRESULT CheckMediaType(const AM_MEDIA_TYPE *) override { return S_OK; }
        HRESULT GetMediaType(int position, AM_MEDIA_TYPE *type) override {
            if (position) return VFW_S_NO_MORE_ITEMS;
            *type = MakeVideoType(MEDIASUBTYPE_YUY2, 8, 8, 16);
            return S_OK;
        }
        HRESULT DecideBufferSize(IMemAllocator *allocator, ALLOCATOR_PROPERTIES *request) override {
            request->cBuffers = 1;
            request->cbBuffer = 128;
            ALLOCATOR_PROPERTIES actual;
            return allocator->SetProperties(request, &actual);
        }
    };
    CCritSec lock;
    std::vector<std::unique_ptr<CBasePin>> pins;
};

template <class T>
ComPtr<IBaseFilter> Filter(T *object) {
    ComPtr<IBaseFilter> out;
    object->NonDelegatingQueryInterface(IID_IBaseFilter, out.PutVoid());
    return out;
}

TEST(FindPin, CountsOnlyPinsOfTheDirection) {
    auto filter = Filter(new PinFilter(3, 2));
    ComPtr<IPin> pin;
    ASSERT_EQ(FindPin(filter.Get(), PINDIR_INPUT, 2, pin.Put()), S_OK);
    std::string id;
    pin->QueryId(&id);
    EXPECT_EQ(id, "in2");
    ASSERT_EQ(FindPin(filter.Get(), PINDIR_OUTPUT, 1, pin.Put()), S_OK);
    pin->QueryId(&id);
    EXPECT_EQ(id, "out1");
    EXPECT_EQ(FindPin(filter.Get(), PINDIR_OUTPUT, 2, pin.Put()), E_FAIL);
    EXPECT_FALSE(pin);
    EXPECT_EQ(FindPin(filter.Get(), PINDIR_INPUT, -1, pin.Put()), E_FAIL);
    EXPECT_EQ(FindPin(nullptr, PINDIR_INPUT, 0, pin.Put()), E_POINTER);
}

// A graph builder that only counts the connections it is asked for.
class CountingBuilder final : public CUnknown, public IGraphBuilder {
public:
    DECLARE_IUNKNOWN
    HRESULT AddFilter(IBaseFilter *, const char *) override { return E_NOTIMPL; }
    HRESULT RemoveFilter(IBaseFilter *) override { return E_NOTIMPL; }
    HRESULT EnumFilters(IEnumFilters **) override { return E_NOTIMPL; }
    HRESULT FindFilterByName(const char *, IBaseFilter **) override { return E_NOTIMPL; }
    HRESULT ConnectDirect(IPin *, IPin *, const AM_MEDIA_TYPE *) override { return E_NOTIMPL; }
    HRESULT Disconnect(IPin *) override { return E_NOTIMPL; }
    HRESULT Connect(IPin *, IPin *) override {
        ++connects;
        return S_OK;
    }
    HRESULT Render(IPin *) override { return E_NOTIMPL; }
    int connects = 0;
};

TEST(ConnectPins, MissingPinFailsWithoutAskingTheBuilder) {
    auto from = Filter(new PinFilter(0, 1));
    auto to = Filter(new PinFilter(5, 0));
    CountingBuilder builder;
    builder.NonDelegatingAddRef();
    EXPECT_EQ(ConnectPins(&builder, from.Get(), to.Get(), 0, 5), VFW_E_NOT_FOUND);
    EXPECT_EQ(ConnectPins(&builder, from.Get(), to.Get(), 1, 0), VFW_E_NOT_FOUND);
    EXPECT_EQ(builder.connects, 0);
    EXPECT_EQ(ConnectPins(&builder, from.Get(), to.Get(), 0, 4), S_OK);
    EXPECT_EQ(builder.connects, 1);
}

TEST(ConnectFilters, NeedsAnActiveGraph) {
    TFilterGraph graph;
    TFilter from("From"), to("To");
    from.SetMonikerName(SoftwareMonikerName(CLSID_LegacyAmFilterCategory, CLSID_SampleGrabber));
    to.SetMonikerName(SoftwareMonikerName(CLSID_LegacyAmFilterCategory, CLSID_NullRenderer));
    from.SetFilterGraph(&graph);
    to.SetFilterGraph(&graph);
    EXPECT_EQ(ConnectFilters(&from, &to), E_POINTER);
    auto source = Filter(new PinFilter(0, 1));
    EXPECT_EQ(ConnectFilters(source.Get(), &from), E_POINTER);
    ASSERT_TRUE(graph.SetActive(true));
    ASSERT_EQ(graph.GraphBuilder()->AddFilter(source.Get(), "Source"), S_OK);
    EXPECT_EQ(ConnectFilters(source.Get(), &from), S_OK);
    EXPECT_EQ(ConnectFilters(&from, &to), S_OK);
    EXPECT_EQ(ConnectFilters(&from, &to, 0, 1), VFW_E_NOT_FOUND);
}

// A capture filter whose first pin offers formats and records the one it is given.
class FakeCamera final : public CBaseFilter {
public:
    explicit FakeCamera(int formats) : CBaseFilter("Camera", &lock, GUID_NULL) {
        HRESULT hr = S_OK;
        pin = std::make_unique<Pin>(this, &lock, &hr, formats);
    }
    int GetPinCount() override { return 1; }
    CBasePin *GetPin(int n) override { return n == 0 ? pin.get() : nullptr; }
    const AM_MEDIA_TYPE &Chosen() const { return pin->chosen; }

private:
    struct Pin final : CBaseOutputPin, IAMStreamConfig {
        Pin(CBaseFilter *f, CCritSec *l, HRESULT *hr, int formats) : CBaseOutputPin(f, l, hr, "Capture") {
            for (int i = 0; i < formats; ++i) offered.push_back(MakeVideoType(MEDIASUBTYPE_YUY2, 160 * (i + 1), 120 * (i + 1), 16, 333333));
        }
        HRESULT QueryInterface(REFIID iid, void **object) override { return NonDelegatingQueryInterface(iid, object); }
        ULONG AddRef() override { return m_pFilter->NonDelegatingAddRef(); }
        ULONG Release() override { return m_pFilter->NonDelegatingRelease(); }
        HRESULT NonDelegatingQueryInterface(REFIID iid, void **object) override {
            if (iid == IID_IAMStreamConfig) return GetInterface(static_cast<IAMStreamConfig *>(this), object);
            return CBaseOutputPin::NonDelegatingQueryInterface(iid, object);
        }
        HRESULT CheckMediaType(const AM_MEDIA_TYPE *) override { return S_OK; }
        HRESULT GetMediaType(int position, AM_MEDIA_TYPE *type) override {
            if (position < 0 || position >= int(offered.size())) return VFW_S_NO_MORE_ITEMS;
            return CopyMediaType(type, &offered[position]);
        }
        HRESULT DecideBufferSize(IMemAllocator *, ALLOCATOR_PROPERTIES *) override { return E_NOTIMPL; }
        HRESULT SetFormat(AM_MEDIA_TYPE *type) override { return CopyMediaType(&chosen, type); }
        HRESULT GetFormat(AM_MEDIA_TYPE **type) override {
            *type = CreateMediaType(&chosen);
            return S_OK;
        }
        HRESULT GetNumberOfCapabilities(int *count, int *size) override {
            *count = int(offered.size());
            *size = sizeof(VIDEO_STREAM_CONFIG_CAPS);
            return S_OK;
        }
        HRESULT GetStreamCaps(int index, AM_MEDIA_TYPE **type, BYTE *) override {
            if (index < 0 || index >= int(offered.size())) return E_INVALIDARG;
            *type = CreateMediaType(&offered[index]);
            return S_OK;
        }
        std::vector<AM_MEDIA_TYPE> offered;
        AM_MEDIA_TYPE chosen;
    };
    CCritSec lock;
    std::unique_ptr<Pin> pin;
};

TEST(SetCaptureFormat, ChoosesTheIndexedFormatAtFifteenFramesPerSecond) {
    struct Case {
        int index;
        int expectedWidth;
    } cases[] = {{0, 160}, {2, 480}, {3, 160}, {99, 160}, {-1, 160}};
    for (const Case &c : cases) {
        auto *camera = new FakeCamera(3);
        auto filter = Filter(camera);
        ASSERT_EQ(SetCaptureFormat(filter.Get(), c.index), S_OK) << c.index;
        ASSERT_NE(camera->Chosen().VideoInfo(), nullptr);
        EXPECT_EQ(camera->Chosen().VideoInfo()->bmiHeader.biWidth, c.expectedWidth) << c.index;
        EXPECT_EQ(camera->Chosen().AvgTimePerFrame(), 666666);
    }
    auto none = Filter(new FakeCamera(0));
    EXPECT_EQ(SetCaptureFormat(none.Get(), 0), VFW_E_NO_TYPES);
    auto noConfig = Filter(new PinFilter(0, 1));
    EXPECT_EQ(SetCaptureFormat(noConfig.Get(), 0), E_NOINTERFACE);
    EXPECT_EQ(SetCaptureFormat(static_cast<IBaseFilter *>(nullptr), 0), E_POINTER);
}

}  // namespace
