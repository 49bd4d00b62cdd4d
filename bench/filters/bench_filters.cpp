// The filter cores next to their peers, measured in the same run:
//  - switcher mode 4 at 1280x720 vs libswscale scaling the inset plus a copy of the full frame;
//  - RGB32 -> YUY2 at 1280x720 vs libyuv ARGBToYUY2;
//  - H.264 encoding of 600 moving 1280x720 pictures vs real time at 20 fps, and its bit rate.
#include "H264Encoder.h"
#include "Yuy2Compositor.h"
#include "Yuy2Converter.h"

#include <libyuv/convert_from_argb.h>

extern "C" {
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kW = 1280, kH = 720;

double seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

// Median time of `a` and of `b`, run alternately so both see the same machine load.
std::pair<double, double> medianTimes(const std::function<void()>& a, const std::function<void()>& b,
                                      int rounds)
{
    std::vector<double> ta, tb;
    for (int i = 0; i < rounds; ++i) {
        auto t0 = Clock::now();
        a();
        auto t1 = Clock::now();
        b();
        auto t2 = Clock::now();
        ta.push_back(seconds(t1 - t0));
        tb.push_back(seconds(t2 - t1));
    }
    std::nth_element(ta.begin(), ta.begin() + rounds / 2, ta.end());
    std::nth_element(tb.begin(), tb.begin() + rounds / 2, tb.end());
    return {ta[rounds / 2], tb[rounds / 2]};
}

std::vector<uint8_t> movingYuy2(int t)
{
    std::vector<uint8_t> p(size_t(kW) * kH * 2);
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; x += 2) {
            uint8_t* q = &p[(size_t(y) * kW + x) * 2];
            const int wave = int(40 * std::sin((x + 6 * t) * 0.02) * std::cos((y - 3 * t) * 0.015));
            q[0] = uint8_t(std::clamp(120 + wave + ((x * 7 + y * 3 + t * 5) & 31), 16, 235));
            q[2] = uint8_t(std::clamp(120 + wave + (((x + 1) * 7 + y * 3 + t * 5) & 31), 16, 235));
            q[1] = uint8_t(128 + wave / 2);
            q[3] = uint8_t(128 - wave / 2);
        }
    return p;
}

void benchSwitcher()
{
    const auto full = movingYuy2(0);
    const auto insetSource = movingYuy2(7);
    filters::Yuy2Compositor compositor;
    compositor.setOutputSize(kW, kH);
    compositor.setInputSize(3, kW, kH);
    compositor.setInputSize(1, kW, kH);
    compositor.deliver(3, full.data(), kW * 2);
    compositor.deliver(1, insetSource.data(), kW * 2);
    TSwitcherLayer layers[kSwitcherLayerCount] = {};
    layers[0] = {-1, 0, {}, {}, 0, {}, 0, 0, {}, 3, {0, 0, kW, kH}, {}, {0, 0, kW, kH}};
    layers[1] = {-1, 1, {}, {840, 16, 424, 244}, 2, {125, 128, 128}, 0, 8421504, {}, 1,
                 {0, 0, kW, kH}, {}, {840, 16, 424, 244}};
    compositor.showLayers(layers, kSwitcherLayerCount);
    std::vector<uint8_t> out(size_t(kW) * kH * 2), peerOut(out.size());

    SwsContext* sws = sws_getContext(kW, kH, AV_PIX_FMT_YUYV422, 424, 244, AV_PIX_FMT_YUYV422,
                                     SWS_BILINEAR, nullptr, nullptr, nullptr);
    auto ours = [&] { compositor.compose(out.data(), kW * 2); };
    auto peer = [&] {
        std::memcpy(peerOut.data(), full.data(), full.size());
        const uint8_t* src[1] = {insetSource.data()};
        const int srcStride[1] = {kW * 2};
        uint8_t* dst[1] = {peerOut.data() + (16 * kW + 840) * 2};
        const int dstStride[1] = {kW * 2};
        sws_scale(sws, src, srcStride, 0, kH, dst, dstStride);
    };
    for (int i = 0; i < 20; ++i) {
        ours();
        peer();
    }
    const auto [t, p] = medianTimes(ours, peer, 300);
    sws_freeContext(sws);
    std::printf("switcher mode 4: %.3f ms, libswscale + copy %.3f ms\n", t * 1e3, p * 1e3);
    std::printf("BENCH switcher_mode4_1280x720_time_vs_libswscale_copy %.2f <= 1.0\n", t / p);
}

void benchRawConverter()
{
    std::vector<uint8_t> argb(size_t(kW) * kH * 4);
    for (size_t i = 0; i < argb.size(); ++i)
        argb[i] = uint8_t(i * 2654435761u >> 24);
    std::vector<uint8_t> out(size_t(kW) * kH * 2), peerOut(out.size());
    filters::Yuy2Converter converter;
    const filters::PictureLayout layout{filters::PixelFormat::Rgb32, kW, kH, true};
    auto ours = [&] { converter.convert(argb.data(), layout, out.data(), kW * 2); };
    auto peer = [&] { libyuv::ARGBToYUY2(argb.data(), kW * 4, peerOut.data(), kW * 2, kW, -kH); };
    const auto [t, p] = medianTimes(ours, peer, 300);
    std::printf("RGB32 -> YUY2: %.3f ms, libyuv ARGBToYUY2 %.3f ms\n", t * 1e3, p * 1e3);
    std::printf("BENCH raw_rgb32_to_yuy2_1280x720_time_vs_libyuv %.2f <= 1.2\n", t / p);
}

void benchH264()
{
    constexpr int kFrames = 600, kFps = 20, kKbit = 1000;
    std::vector<std::vector<uint8_t>> pictures;
    for (int i = 0; i < 60; ++i)
        pictures.push_back(movingYuy2(i));
    filters::H264Encoder encoder({kW, kH, kFps, kKbit});
    size_t bytes = 0;
    const auto start = Clock::now();
    for (int i = 0; i < kFrames; ++i) {
        // Cycle forward and back so the motion never jumps.
        const int k = (i / 60) % 2 ? 59 - i % 60 : i % 60;
        bytes += encoder.encode(pictures[k].data(), kW * 2).bytes.size();
    }
    const double elapsed = seconds(Clock::now() - start);
    const double fps = kFrames / elapsed;
    const double kbit = bytes * 8.0 / (kFrames / double(kFps)) / 1000.0;
    std::printf("H.264 1280x720: %.1f frames/s, %.0f kbit/s for a %d kbit/s setting\n", fps, kbit, kKbit);
    std::printf("BENCH h264_1280x720_speed_vs_realtime_20fps %.2f >= 3.0\n", fps / kFps);
    std::printf("BENCH h264_1280x720_bitrate_deviation_vs_setting %.3f <= 0.10\n",
                std::abs(kbit - kKbit) / kKbit);
}

} // namespace

int main()
{
    benchSwitcher();
    benchRawConverter();
    benchH264();
}
