// The resize filter in a running graph (push source -> filter -> sample grabber), its settings
// interface and media types, and the frame work with keep-aspect bars.
#include "ScalerGraph.h"
#include "filter/ScaleFilter.h"
#include "zoom/Zoom.h"

#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>

using namespace framescaler;
using namespace framescaler_test;

namespace {

std::vector<uint8_t> randomPicture(FrameSize size, uint32_t seed)
{
    std::mt19937 random(seed);
    std::vector<uint8_t> bytes(size_t(rgb32Bytes(size)));
    for (auto& b : bytes)
        b = uint8_t(1 + random() % 255); // never 0, so black bars stand out
    return bytes;
}

// The picture scaled with the plain reference kernels.
std::vector<uint8_t> referenceScale(const std::vector<uint8_t>& src, FrameSize from, FrameSize to, ScaleMode mode)
{
    std::vector<uint8_t> dst(size_t(rgb32Bytes(to)));
    const DestPicture d{dst.data(), to.width * 4, to.width, to.height};
    const SourcePicture s{src.data(), from.width * 4, from.width, from.height};
    if (mode == ScaleMode::Bilinear)
        zoomBilinear(d, s, kBilinear_C);
    else
        zoomNearest(d, s, kNearest_C);
    return dst;
}

ComPtr<TScaleFilter> newFilter()
{
    HRESULT hr = S_OK;
    return ComPtr<TScaleFilter>(static_cast<TScaleFilter*>(TScaleFilter::CreateInstance(nullptr, &hr)));
}

TScaleParams params(int32_t width, int32_t height, int32_t keepAspect = 0, int32_t mode = 0)
{
    TScaleParams p;
    p.width = width;
    p.height = height;
    p.keepAspect = keepAspect;
    p.mode = mode;
    return p;
}

TEST(FrameScaler, KeepAspectPutsTheScaledPictureBetweenBlackBars)
{
    struct Case {
        FrameSize in, out, fit;
        int top, left;
    };
    const Case cases[] = {
        {{640, 480}, {1024, 768}, {1024, 768}, 0, 0},   // same aspect: scaled straight
        {{1280, 720}, {1024, 768}, {1024, 576}, 96, 0}, // bars above and below
        {{640, 480}, {1280, 720}, {960, 720}, 0, 160},  // bars left and right
    };
    for (const Case& c : cases) {
        for (ScaleMode mode : {ScaleMode::Nearest, ScaleMode::Bilinear}) {
            SCOPED_TRACE(std::to_string(c.in.width) + "x" + std::to_string(c.in.height) + " -> "
                         + std::to_string(c.out.width) + "x" + std::to_string(c.out.height));
            EXPECT_EQ(fitInside(c.in, c.out), c.fit);
            const auto input = randomPicture(c.in, 3);
            std::vector<uint8_t> output(size_t(rgb32Bytes(c.out)), 0xEE);
            renderFrame({input.data(), c.in, output.data(), c.out, false, true, mode});
            const auto picture = referenceScale(input, c.in, c.fit, mode);
            for (int y = 0; y < c.out.height; ++y) {
                for (int x = 0; x < c.out.width; ++x) {
                    const bool inside = y >= c.top && y < c.top + c.fit.height && x >= c.left && x < c.left + c.fit.width;
                    const uint8_t* got = &output[(size_t(y) * c.out.width + x) * 4];
                    static const uint8_t black[4] = {};
                    const uint8_t* want =
                        inside ? &picture[(size_t(y - c.top) * c.fit.width + (x - c.left)) * 4] : black;
                    ASSERT_EQ(std::memcmp(got, want, 4), 0) << x << ", " << y << (inside ? " picture" : " bar");
                }
            }
        }
    }
}

TEST(FrameScaler, EqualSizesCopyAndPauseGivesBlackWhateverTheMode)
{
    const FrameSize size{64, 48};
    const auto input = randomPicture(size, 5);
    for (ScaleMode mode : {ScaleMode::Nearest, ScaleMode::Bilinear}) {
        std::vector<uint8_t> output(input.size(), 0);
        renderFrame({input.data(), size, output.data(), size, false, true, mode});
        EXPECT_EQ(output, input);
        renderFrame({input.data(), {32, 32}, output.data(), size, true, false, mode});
        EXPECT_EQ(output, std::vector<uint8_t>(input.size(), 0));
    }
}

TEST(ScaleSettings, RecordsAreTakenAsTheirSizeWordAndStateSay)
{
    auto filter = newFilter();
    TScaleParams got;
    ASSERT_EQ(filter->GetParams(&got), S_OK);
    const TScaleParams defaults;
    EXPECT_EQ(std::memcmp(&got, &defaults, sizeof got), 0);

    // The short form leaves mode alone.
    TScaleParams shortForm = params(320, 240, 1, 1);
    shortForm.size = 24;
    ASSERT_EQ(filter->SetParams(&shortForm), S_OK);
    ASSERT_EQ(filter->GetParams(&got), S_OK);
    EXPECT_EQ(got.width, 320);
    EXPECT_EQ(got.keepAspect, 1);
    EXPECT_EQ(got.mode, 0);

    struct Refused {
        const char* what;
        TScaleParams record;
        HRESULT expected;
    };
    TScaleParams size26 = params(10, 10);
    size26.size = 26;
    const Refused refused[] = {
        {"size word 26", size26, E_INVALIDARG},
        {"width above 32767", params(32768, 10), E_INVALIDARG},
        {"height above 32767", params(10, 40000), E_INVALIDARG},
        {"width 0 is ignored", params(0, 10), S_OK},
        {"negative height is ignored", params(10, -5), S_OK},
    };
    for (const Refused& r : refused) {
        SCOPED_TRACE(r.what);
        EXPECT_EQ(filter->SetParams(&r.record), r.expected);
        ASSERT_EQ(filter->GetParams(&got), S_OK);
        EXPECT_EQ(got.width, 320);
        EXPECT_EQ(got.height, 240);
    }
    EXPECT_EQ(filter->SetParams(nullptr), E_POINTER);
    EXPECT_EQ(filter->GetParams(nullptr), E_POINTER);

    // A 24-byte request gets 24 bytes, the size word reading 28.
    struct {
        TScaleParams record;
        uint32_t guard;
    } request;
    std::memset(static_cast<void*>(&request), 0xAB, sizeof request);
    request.record.size = 24;
    ASSERT_EQ(filter->GetParams(&request.record), S_OK);
    EXPECT_EQ(request.record.size, 28);
    EXPECT_EQ(request.record.width, 320);
    EXPECT_EQ(uint32_t(request.record.mode), 0xABABABABu);
}

TEST(ScaleFilterTypes, OnlyBottomUpRgb32WithVideoInfoIsTaken)
{
    auto filter = newFilter();
    AM_MEDIA_TYPE notVideoInfo = rgb32Type(64, 48);
    notVideoInfo.formattype = FORMAT_VideoInfo2;
    AM_MEDIA_TYPE shortBlock = rgb32Type(64, 48);
    shortBlock.cbFormat = 40;
    struct Case {
        const char* what;
        AM_MEDIA_TYPE type;
        HRESULT expected;
    } cases[] = {
        {"bottom-up RGB32", rgb32Type(64, 48), S_OK},
        {"top-down RGB32", rgb32Type(64, -48), E_FAIL},
        {"YUY2", MakeVideoType(MEDIASUBTYPE_YUY2, 64, 48, 16), E_FAIL},
        {"RGB24", MakeVideoType(MEDIASUBTYPE_RGB24, 64, 48, 24), E_FAIL},
        {"32768 wide", rgb32Type(32768, 2), E_FAIL},
        {"other format block", notVideoInfo, E_INVALIDARG},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(filter->CheckInputType(&c.type), c.expected);
    }
    AM_MEDIA_TYPE type;
    EXPECT_EQ(filter->GetMediaType(0, &type), E_UNEXPECTED);
    ALLOCATOR_PROPERTIES request;
    EXPECT_EQ(filter->DecideBufferSize(nullptr, &request), E_UNEXPECTED);
}

TEST(ScaleFilterTypes, OutputTypePositionsAndBufferRequestsOnceConnected)
{
    auto filter = newFilter();
    ScalerGraph graph(filter.Get(), rgb32Type(64, 48), {});
    ASSERT_EQ(graph.connectInput(), S_OK);
    AM_MEDIA_TYPE type;
    EXPECT_EQ(filter->GetMediaType(-1, &type), E_INVALIDARG);
    EXPECT_EQ(filter->GetMediaType(1, &type), VFW_S_NO_MORE_ITEMS);
    ASSERT_EQ(filter->GetMediaType(0, &type), S_OK);
    EXPECT_EQ(type.VideoInfo()->bmiHeader.biWidth, 1024);
    EXPECT_EQ(type.lSampleSize, 1024u * 768u * 4u);
    ALLOCATOR_PROPERTIES request;
    EXPECT_EQ(filter->DecideBufferSize(nullptr, &request), E_POINTER);
}

TEST(ScaleFilterTypes, AnOutputTooLargeForOneBufferRefusesTheConnection)
{
    // 32767 x 32767 x 4 bytes fits the image size field but not one buffer.
    auto filter = newFilter();
    const TScaleParams p = params(32767, 32767);
    ASSERT_EQ(filter->SetParams(&p), S_OK);
    ScalerGraph graph(filter.Get(), rgb32Type(64, 48), {});
    ASSERT_EQ(graph.connectInput(), S_OK);
    AM_MEDIA_TYPE type;
    ASSERT_EQ(filter->GetMediaType(0, &type), S_OK);
    EXPECT_EQ(type.VideoInfo()->bmiHeader.biSizeImage, 32767u * 32767u * 4u);
    EXPECT_TRUE(FAILED(graph.connectOutput()));
    EXPECT_FALSE(filter->OutputPin()->IsConnected());
}

Frame frameOf(FrameSize size, uint32_t seed, REFERENCE_TIME start, bool sync, bool discontinuity)
{
    Frame f;
    f.bytes = randomPicture(size, seed);
    f.start = start;
    f.stop = start + 400000;
    f.syncPoint = sync;
    f.discontinuity = discontinuity;
    f.hasMediaTime = true;
    f.mediaStart = seed;
    f.mediaStop = seed + 1;
    return f;
}

std::vector<Frame> threeFrames(FrameSize size)
{
    return {frameOf(size, 1, 0, true, true), frameOf(size, 2, 400000, false, false),
            frameOf(size, 3, 800000, true, false)};
}

void expectSameTimesAndMarks(const Frame& got, const Frame& sent)
{
    EXPECT_EQ(got.start, sent.start);
    EXPECT_EQ(got.stop, sent.stop);
    EXPECT_EQ(got.syncPoint, sent.syncPoint);
    EXPECT_EQ(got.discontinuity, sent.discontinuity);
    EXPECT_TRUE(got.hasMediaTime);
    EXPECT_EQ(got.mediaStart, sent.mediaStart);
}

TEST(ScaleFilterGraph, ScalesEveryFrameWithTheConnectionsSizeAndOneBuffer)
{
    const FrameSize in{160, 120}, out{200, 90};
    for (int32_t mode : {0, 1}) {
        auto filter = newFilter();
        const TScaleParams p = params(out.width, out.height, 0, mode);
        ASSERT_EQ(filter->SetParams(&p), S_OK);
        const auto sent = threeFrames(in);
        ScalerGraph graph(filter.Get(), rgb32Type(in.width, in.height), sent);
        ASSERT_EQ(graph.connect(), S_OK);

        AM_MEDIA_TYPE outType;
        ASSERT_EQ(filter->OutputPin()->ConnectionMediaType(&outType), S_OK);
        EXPECT_EQ(outType.VideoInfo()->bmiHeader.biWidth, out.width);
        EXPECT_EQ(outType.VideoInfo()->bmiHeader.biHeight, out.height);
        EXPECT_EQ(outType.VideoInfo()->bmiHeader.biSizeImage, uint32_t(rgb32Bytes(out)));
        EXPECT_EQ(outType.VideoInfo()->rcTarget.right, out.width);
        ALLOCATOR_PROPERTIES props;
        ASSERT_EQ(filter->OutputPin()->Allocator()->GetProperties(&props), S_OK);
        EXPECT_EQ(props.cBuffers, 1);
        EXPECT_EQ(props.cbBuffer, rgb32Bytes(out));

        const auto got = graph.run(sent.size());
        ASSERT_EQ(got.size(), sent.size());
        for (size_t i = 0; i < got.size(); ++i) {
            SCOPED_TRACE("frame " + std::to_string(i) + " mode " + std::to_string(mode));
            EXPECT_EQ(got[i].bytes, referenceScale(sent[i].bytes, in, out, scaleModeOf(mode)));
            expectSameTimesAndMarks(got[i], sent[i]);
            EXPECT_TRUE(MediaTypesEqual(got[i].type, outType));
        }
    }
}

TEST(ScaleFilterGraph, PauseSendsBlackFramesWithTheInputsTimesAndMarks)
{
    auto filter = newFilter();
    const FrameSize in{64, 48}, out{80, 60};
    TScaleParams p = params(out.width, out.height);
    p.pause = 1;
    ASSERT_EQ(filter->SetParams(&p), S_OK);
    const auto sent = threeFrames(in);
    ScalerGraph graph(filter.Get(), rgb32Type(in.width, in.height), sent);
    ASSERT_EQ(graph.connect(), S_OK);
    // Completing a connection turns pause off; while connected pause can still be set.
    TScaleParams now;
    ASSERT_EQ(filter->GetParams(&now), S_OK);
    EXPECT_EQ(now.pause, 0);
    // While connected only pause and mode are taken; size and enabled stay.
    TScaleParams change = params(20, 20);
    change.pause = 1;
    change.enabled = 0;
    ASSERT_EQ(filter->SetParams(&change), S_OK);
    ASSERT_EQ(filter->GetParams(&now), S_OK);
    EXPECT_EQ(now.pause, 1);
    EXPECT_EQ(now.width, out.width);
    EXPECT_EQ(now.enabled, 1);

    const auto got = graph.run(sent.size());
    ASSERT_EQ(got.size(), sent.size());
    for (size_t i = 0; i < got.size(); ++i) {
        SCOPED_TRACE("frame " + std::to_string(i));
        EXPECT_EQ(got[i].bytes, std::vector<uint8_t>(size_t(rgb32Bytes(out)), 0));
        expectSameTimesAndMarks(got[i], sent[i]);
    }
}

TEST(ScaleFilterGraph, PauseAndModeChangedWhileStreamingActOnWholeFrames)
{
    auto filter = newFilter();
    const FrameSize in{64, 48}, out{40, 30};
    const TScaleParams p = params(out.width, out.height);
    ASSERT_EQ(filter->SetParams(&p), S_OK);
    std::vector<Frame> sent;
    for (int i = 0; i < 40; ++i)
        sent.push_back(frameOf(in, uint32_t(i + 10), REFERENCE_TIME(i) * 400000, true, false));
    ScalerGraph graph(filter.Get(), rgb32Type(in.width, in.height), sent);
    ASSERT_EQ(graph.connect(), S_OK);

    std::atomic<bool> streaming{true};
    std::thread changer([&] {
        for (int flip = 0; streaming; ++flip) {
            TScaleParams change = params(out.width, out.height, 0, flip % 3 == 0 ? 1 : 0);
            change.pause = flip % 2;
            filter->SetParams(&change);
        }
    });
    const auto got = graph.run(sent.size());
    streaming = false;
    changer.join();

    ASSERT_EQ(got.size(), sent.size());
    const std::vector<uint8_t> black(size_t(rgb32Bytes(out)), 0);
    for (size_t i = 0; i < got.size(); ++i) {
        const bool whole = got[i].bytes == black
            || got[i].bytes == referenceScale(sent[i].bytes, in, out, ScaleMode::Nearest)
            || got[i].bytes == referenceScale(sent[i].bytes, in, out, ScaleMode::Bilinear);
        EXPECT_TRUE(whole) << "frame " << i << " mixes two settings";
    }
}

TEST(ScaleFilterGraph, DisabledPassesSamplesThroughByteForByte)
{
    auto filter = newFilter();
    const FrameSize in{64, 48};
    TScaleParams p = params(100, 100);
    p.enabled = 0;
    ASSERT_EQ(filter->SetParams(&p), S_OK);
    // A type that states neither sample nor image size: the pass-through buffer still holds a picture.
    AM_MEDIA_TYPE type = rgb32Type(in.width, in.height);
    type.lSampleSize = 0;
    type.VideoInfo()->bmiHeader.biSizeImage = 0;
    const auto sent = threeFrames(in);
    ScalerGraph graph(filter.Get(), type, sent);
    ASSERT_EQ(graph.connect(), S_OK);
    AM_MEDIA_TYPE outType;
    ASSERT_EQ(filter->OutputPin()->ConnectionMediaType(&outType), S_OK);
    EXPECT_TRUE(MediaTypesEqual(outType, type));
    ALLOCATOR_PROPERTIES props;
    ASSERT_EQ(filter->OutputPin()->Allocator()->GetProperties(&props), S_OK);
    EXPECT_EQ(props.cbBuffer, rgb32Bytes(in));

    const auto got = graph.run(sent.size());
    ASSERT_EQ(got.size(), sent.size());
    for (size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].bytes, sent[i].bytes);
        expectSameTimesAndMarks(got[i], sent[i]);
    }
}

TEST(ScaleFilterGraph, AShortInputSampleFailsTheFrameInsteadOfBeingOverRead)
{
    auto filter = newFilter();
    const FrameSize in{64, 48};
    const TScaleParams p = params(32, 24);
    ASSERT_EQ(filter->SetParams(&p), S_OK);
    std::vector<Frame> sent = threeFrames(in);
    sent[1].bytes.resize(sent[1].bytes.size() / 2); // half a picture
    ScalerGraph graph(filter.Get(), rgb32Type(in.width, in.height), sent);
    ASSERT_EQ(graph.connect(), S_OK);
    // The short frame fails on its own; the frames around it come through.
    const auto got = graph.run(2);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].start, sent[0].start);
    EXPECT_EQ(got[1].start, sent[2].start);
    EXPECT_EQ(got[1].bytes, referenceScale(sent[2].bytes, in, {32, 24}, ScaleMode::Nearest));
}

} // namespace
