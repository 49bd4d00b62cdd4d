// PicZoom and PicZoom_Bilinear next to libyuv's ARGBScale (point sampling and bilinear) and a
// memcpy of the destination's size, on the frame sizes a resize filter meets. Repetitions of
// all benchmarks are interleaved so that a busy neighbour slows both sides alike; the ratio of
// the medians is each goal.
#include "framescaler/PicZoom.h"

#include <benchmark/benchmark.h>
#include <libyuv/scale_argb.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

struct Case {
    int srcW, srcH, dstW, dstH;
    std::string name() const
    {
        return std::to_string(srcW) + "x" + std::to_string(srcH) + "_to_" + std::to_string(dstW) + "x"
            + std::to_string(dstH);
    }
};

const Case kCases[] = {
    {1280, 720, 1920, 1080},
    {1920, 1080, 1280, 720},
    {640, 480, 1024, 768},
    {1920, 1080, 640, 360},
};

enum class Method { PicZoom, PicZoomBilinear, LibyuvNone, LibyuvBilinear, Memcpy };

const char* methodName(Method m)
{
    switch (m) {
    case Method::PicZoom: return "piczoom";
    case Method::PicZoomBilinear: return "piczoom_bilinear";
    case Method::LibyuvNone: return "libyuv_none";
    case Method::LibyuvBilinear: return "libyuv_bilinear";
    case Method::Memcpy: return "memcpy";
    }
    return "";
}

struct Frames {
    std::vector<std::uint8_t> src;
    std::vector<std::uint8_t> dst;
    std::vector<std::uint8_t> copySource;
    explicit Frames(const Case& c)
        : src(std::size_t(c.srcW) * c.srcH * 4), dst(std::size_t(c.dstW) * c.dstH * 4, 0),
          copySource(dst.size(), 1)
    {
        std::mt19937 random(1);
        for (auto& b : src)
            b = static_cast<std::uint8_t>(random());
    }
};

void runScale(benchmark::State& state, Case c, Method method)
{
    Frames f(c);
    const PixelBufferRef s{f.src.data(), c.srcW * 4, c.srcW, c.srcH};
    const PixelBufferRef d{f.dst.data(), c.dstW * 4, c.dstW, c.dstH};
    for (auto _ : state) {
        switch (method) {
        case Method::PicZoom: PicZoom(&d, &s); break;
        case Method::PicZoomBilinear: PicZoom_Bilinear(&d, &s); break;
        case Method::LibyuvNone:
            libyuv::ARGBScale(f.src.data(), c.srcW * 4, c.srcW, c.srcH, f.dst.data(), c.dstW * 4, c.dstW,
                              c.dstH, libyuv::kFilterNone);
            break;
        case Method::LibyuvBilinear:
            libyuv::ARGBScale(f.src.data(), c.srcW * 4, c.srcW, c.srcH, f.dst.data(), c.dstW * 4, c.dstW,
                              c.dstH, libyuv::kFilterBilinear);
            break;
        case Method::Memcpy: std::memcpy(f.dst.data(), f.copySource.data(), f.dst.size()); break;
        }
        benchmark::DoNotOptimize(f.dst.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * std::int64_t{c.dstW} * c.dstH);
}

// Keeps the median CPU time of every benchmark's repetitions, in seconds per call: on a shared
// machine the time the thread was not running would only add noise to both sides.
class MedianCollector : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median")
                medians[run.run_name.function_name] = run.GetAdjustedCPUTime()
                    / benchmark::GetTimeUnitMultiplier(run.time_unit);
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> medians;
};

std::string benchName(const Case& c, Method m) { return std::string(methodName(m)) + "/" + c.name(); }

} // namespace

int main(int argc, char** argv)
{
    const Method methods[] = {Method::PicZoom, Method::LibyuvNone, Method::PicZoomBilinear,
                              Method::LibyuvBilinear, Method::Memcpy};
    for (const Case& c : kCases)
        for (Method m : methods)
            benchmark::RegisterBenchmark(benchName(c, m).c_str(), runScale, c, m)
                ->Unit(benchmark::kMicrosecond)
                ->MinTime(0.05)
                ->Repetitions(11)
                ->ReportAggregatesOnly(true);

    std::vector<char*> args(argv, argv + argc);
    std::string interleave = "--benchmark_enable_random_interleaving=true";
    args.push_back(interleave.data());
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    MedianCollector collector;
    benchmark::RunSpecifiedBenchmarks(&collector);
    benchmark::Shutdown();

    const struct {
        Method ours, peer;
    } goals[] = {{Method::PicZoom, Method::LibyuvNone}, {Method::PicZoomBilinear, Method::LibyuvBilinear}};
    for (const Case& c : kCases) {
        const double megapixels = double(c.dstW) * c.dstH / 1e6;
        const double copy = collector.medians[benchName(c, Method::Memcpy)];
        for (const auto& g : goals) {
            const double ours = collector.medians[benchName(c, g.ours)];
            const double peer = collector.medians[benchName(c, g.peer)];
            if (ours <= 0 || peer <= 0)
                continue; // filtered out on the command line
            std::printf("%s %s: %.0f Mpx/s (libyuv %.0f Mpx/s, memcpy of the destination %.0f Mpx/s)\n",
                        methodName(g.ours), c.name().c_str(), megapixels / ours, megapixels / peer,
                        copy > 0 ? megapixels / copy : 0.0);
            std::printf("BENCH %s_%s_time_vs_libyuv %.2f <= 1.0\n", methodName(g.ours), c.name().c_str(),
                        ours / peer);
        }
    }
    return 0;
}
