#include "compat/com/ClassRegistry.h"
#include "compat/dshow/FilterGraph.h"
#include "compat/dshow/mjpeg/MjpegDecompressor.h"
#include "tests/support/JpegTestPictures.h"
#include "tests/support/TestFilters.h"

#include <gtest/gtest.h>

#include <turbojpeg.h>

using namespace sc;

namespace {

constexpr int kWidth = 320, kHeight = 240;

struct Chain {
    ComPtr<IGraphBuilder> graph;
    ComPtr<test::PushSource> source;
    ComPtr<test::RecordingSink> sink;
    HRESULT connected = E_FAIL;

    explicit Chain(std::vector<GUID> sinkSubtypes) {
        EXPECT_EQ(CoCreate(CLSID_FilterGraph, &graph), S_OK);
        source = test::Make<test::PushSource>(MakeVideoType(MEDIASUBTYPE_MJPG, kWidth, kHeight, 24, 333333,
                                                            MakeFourCC('M', 'J', 'P', 'G')),
                                              kWidth * kHeight * 2);
        sink = test::Make<test::RecordingSink>(std::move(sinkSubtypes));
        graph->AddFilter(source.Get(), "source");
        graph->AddFilter(sink.Get(), "sink");
        // The graph finds the decompressor by itself.
        connected = graph->Connect(source->Output(), sink->Input());
    }
    HRESULT Run() { return graph.As<IMediaControl>()->Run(); }
    ~Chain() {
        if (graph)
            graph.As<IMediaControl>()->Stop();
    }
    ComPtr<IBaseFilter> Decompressor() {
        for (auto &filter : FiltersDownstreamFirst(graph.Get())) {
            CLSID clsid;
            if (SUCCEEDED(filter->GetClassID(&clsid)) && clsid == CLSID_MjpegDec)
                return filter;
        }
        return nullptr;
    }
};

} // namespace

TEST(MjpegDecompressor, IsInsertedBetweenAnMjpegSourceAndAPictureSink) {
    struct Case {
        const char *name;
        GUID subtype;
        uint32_t sampleBytes;
    };
    const Case cases[] = {{"YUY2", MEDIASUBTYPE_YUY2, kWidth * kHeight * 2},
                          {"RGB24", MEDIASUBTYPE_RGB24, kWidth * kHeight * 3},
                          {"RGB32", MEDIASUBTYPE_RGB32, kWidth * kHeight * 4}};
    for (const Case &c : cases) {
        Chain chain({c.subtype});
        ASSERT_EQ(chain.connected, S_OK) << c.name;
        ASSERT_TRUE(chain.Decompressor()) << c.name;
        AM_MEDIA_TYPE type;
        ASSERT_EQ(chain.sink->Input()->ConnectionMediaType(&type), S_OK);
        EXPECT_EQ(type.subtype, c.subtype) << c.name;
        ASSERT_TRUE(type.BitmapHeader());
        EXPECT_EQ(type.BitmapHeader()->biWidth, kWidth);
        EXPECT_EQ(std::abs(type.BitmapHeader()->biHeight), kHeight);

        ASSERT_EQ(chain.Run(), S_OK);
        std::vector<uint8_t> jpeg = test::colourBarsJpeg(kWidth, kHeight, TJSAMP_422);
        ASSERT_EQ(chain.source->Push(jpeg.data(), jpeg.size()), S_OK);
        ASSERT_TRUE(chain.sink->WaitFor(1));
        const auto sample = chain.sink->Samples().front();
        EXPECT_EQ(sample.bytes.size(), c.sampleBytes) << c.name;
        EXPECT_TRUE(sample.syncPoint);
        if (c.subtype == MEDIASUBTYPE_RGB24) {
            // Upright bitmap: the grey ramp of the picture's bottom rows comes first; its
            // right end is near white, the top rows' right end is the black bar.
            const uint8_t *firstRowEnd = &sample.bytes[(kWidth - 2) * 3];
            const uint8_t *lastRowEnd = &sample.bytes[(kHeight - 1) * kWidth * 3 + (kWidth - 2) * 3];
            EXPECT_GT(firstRowEnd[1], 200) << c.name;
            EXPECT_LT(lastRowEnd[1], 40) << c.name;
        }
    }
}

TEST(MjpegDecompressor, DropsBrokenFramesAndKeepsStreaming) {
    Chain chain({MEDIASUBTYPE_YUY2});
    ASSERT_EQ(chain.connected, S_OK);
    ASSERT_EQ(chain.Run(), S_OK);
    const std::vector<uint8_t> good = test::colourBarsJpeg(kWidth, kHeight, TJSAMP_422);
    std::vector<uint8_t> corrupt = good;
    corrupt[good.size() / 2] = 0xFF;
    corrupt[good.size() / 2 + 1] = 0xC8;
    const std::vector<uint8_t> truncated(good.begin(), good.begin() + good.size() * 2 / 3);
    const std::vector<uint8_t> otherSize = test::colourBarsJpeg(kWidth / 2, kHeight / 2, TJSAMP_422);
    const std::vector<uint8_t> *frames[] = {&good, &corrupt, &truncated, &otherSize, &good};
    for (REFERENCE_TIME i = 0; i < 5; ++i) {
        REFERENCE_TIME start = i * 333333, stop = start + 333333;
        // A dropped frame is not an error of the stream.
        EXPECT_EQ(chain.source->Push(frames[i]->data(), frames[i]->size(), &start, &stop), S_OK) << i;
    }
    ASSERT_TRUE(chain.sink->WaitFor(2));
    const auto samples = chain.sink->Samples();
    ASSERT_EQ(samples.size(), 2u);
    EXPECT_EQ(samples[0].start, 0);
    EXPECT_EQ(samples[1].start, 4 * 333333);  // the good frame after the broken ones, with its time
    EXPECT_EQ(samples[1].stop, 5 * 333333);
    EXPECT_EQ(samples[0].bytes, samples[1].bytes);
    auto *decompressor = static_cast<mjpeg::MjpegDecompressor *>(chain.Decompressor().Get());
    EXPECT_EQ(decompressor->FramesDropped(), 3u);
    EXPECT_NE(decompressor->LastDropReason().find("160x120"), std::string::npos) << decompressor->LastDropReason();
}

TEST(MjpegDecompressor, RefusesWhatItCannotDecode) {
    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(CoCreate(CLSID_MjpegDec, &filter), S_OK);
    ComPtr<IPin> input = PinsOf(filter.Get(), PINDIR_INPUT).front();
    const AM_MEDIA_TYPE refused[] = {
        MakeVideoType(MEDIASUBTYPE_YUY2, kWidth, kHeight, 16),
        MakeVideoType(MEDIASUBTYPE_MJPG, 0, kHeight, 24),
        MakePcmAudioType(44100, 2, 16),
    };
    for (const AM_MEDIA_TYPE &type : refused)
        EXPECT_NE(input->QueryAccept(&type), S_OK);
    AM_MEDIA_TYPE mjpg = MakeVideoType(MEDIASUBTYPE_MJPG, kWidth, kHeight, 24);
    EXPECT_EQ(input->QueryAccept(&mjpg), S_OK);
}
