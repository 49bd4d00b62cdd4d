// The MJPEG decompressor filter next to libjpeg-turbo, in the same run: one 1280x720 camera
// picture decoded to YUY2 through the filter (a push source delivering the JPEG sample, the
// decompressor, a null renderer) against libjpeg-turbo decoding the same JPEG straight into
// its own planes, the least work a decode can do.
#include "compat/com/ClassRegistry.h"
#include "compat/dshow/FilterGraph.h"
#include "tests/support/JpegTestPictures.h"
#include "tests/support/TestFilters.h"

#include <turbojpeg.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kW = 1280, kH = 720;

// Median time of `a` and of `b`, run alternately so both see the same machine load.
std::pair<double, double> medianTimes(const std::function<void()> &a, const std::function<void()> &b, int rounds) {
    std::vector<double> ta, tb;
    for (int i = 0; i < rounds; ++i) {
        auto t0 = Clock::now();
        a();
        auto t1 = Clock::now();
        b();
        auto t2 = Clock::now();
        ta.push_back(std::chrono::duration<double>(t1 - t0).count());
        tb.push_back(std::chrono::duration<double>(t2 - t1).count());
    }
    std::nth_element(ta.begin(), ta.begin() + rounds / 2, ta.end());
    std::nth_element(tb.begin(), tb.begin() + rounds / 2, tb.end());
    return {ta[rounds / 2], tb[rounds / 2]};
}

} // namespace

int main() {
    const std::vector<uint8_t> jpeg = sc::test::naturalJpeg(kW, kH, TJSAMP_422);

    ComPtr<IGraphBuilder> graph;
    ComPtr<IBaseFilter> decompressor, sink;
    if (FAILED(CoCreate(CLSID_FilterGraph, &graph)) || FAILED(CoCreate(CLSID_MjpegDec, &decompressor)) ||
        FAILED(CoCreate(CLSID_NullRenderer, &sink))) {
        std::fprintf(stderr, "bench_mjpeg: the media layer's filters are missing\n");
        return 1;
    }
    auto source = sc::test::Make<sc::test::PushSource>(
        MakeVideoType(MEDIASUBTYPE_MJPG, kW, kH, 24, 333333, MakeFourCC('M', 'J', 'P', 'G')), kW * kH * 2);
    graph->AddFilter(source.Get(), "camera");
    graph->AddFilter(decompressor.Get(), "decompressor");
    graph->AddFilter(sink.Get(), "sink");
    AM_MEDIA_TYPE yuy2 = MakeVideoType(MEDIASUBTYPE_YUY2, kW, kH, 16, 333333, MakeFourCC('Y', 'U', 'Y', '2'));
    if (FAILED(graph->ConnectDirect(source->Output(), PinsOf(decompressor.Get(), PINDIR_INPUT).front().Get(), nullptr)) ||
        FAILED(graph->ConnectDirect(PinsOf(decompressor.Get(), PINDIR_OUTPUT).front().Get(),
                                    PinsOf(sink.Get(), PINDIR_INPUT).front().Get(), &yuy2)) ||
        FAILED(graph.As<IMediaControl>()->Run())) {
        std::fprintf(stderr, "bench_mjpeg: cannot build the decoding graph\n");
        return 1;
    }

    tjhandle decoder = tjInitDecompress();
    std::vector<uint8_t> planes(size_t(kW) * kH * 2);
    int strides[3] = {kW, kW / 2, kW / 2};
    unsigned char *plane[3] = {planes.data(), planes.data() + kW * kH, planes.data() + kW * kH * 3 / 2};
    bool ok = true;
    auto throughFilter = [&] { ok &= source->Push(jpeg.data(), jpeg.size()) == S_OK; };
    auto direct = [&] {
        ok &= tjDecompressToYUVPlanes(decoder, jpeg.data(), jpeg.size(), plane, kW, strides, kH, 0) == 0;
    };
    for (int i = 0; i < 10; ++i) {  // warm caches and allocators
        throughFilter();
        direct();
    }
    const auto [filterTime, directTime] = medianTimes(throughFilter, direct, 300);
    graph.As<IMediaControl>()->Stop();
    tjDestroy(decoder);
    if (!ok) {
        std::fprintf(stderr, "bench_mjpeg: a decode failed\n");
        return 1;
    }
    std::printf("mjpeg 1280x720 (%zu bytes): filter to YUY2 %.3f ms, libjpeg-turbo to planes %.3f ms\n",
                jpeg.size(), filterTime * 1e3, directTime * 1e3);
    std::printf("BENCH mjpeg_decompressor_1280x720_yuy2_time_vs_libjpeg_turbo %.3f <= 1.1\n", filterTime / directTime);
    return 0;
}
