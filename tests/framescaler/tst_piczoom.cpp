// The exported routines and every kernel set this CPU runs, against a plain per-pixel
// reference that applies the edge rule everywhere, on random sizes, strides and alignments;
// writes outside the destination show up in the canary bytes around and between its rows.
#include "ZoomTestPictures.h"
#include "zoom/Zoom.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>

using namespace framescaler_test;

namespace {

std::int64_t stepFor(int source, int destination) { return (std::int64_t{source} * 65536) / destination + 1; }

std::uint32_t referenceNearest(const CanaryPicture& src, int x, int y, int dstW, int dstH)
{
    const int w = src.ref().width;
    const int h = src.ref().height;
    const auto column = std::min<std::int64_t>((x * stepFor(w, dstW)) >> 16, w - 1);
    const auto row = std::min<std::int64_t>((y * stepFor(h, dstH)) >> 16, h - 1);
    return src.pixel(int(column), int(row));
}

std::uint32_t referenceBilinear(const CanaryPicture& src, int x, int y, int dstW, int dstH)
{
    const int w = src.ref().width;
    const int h = src.ref().height;
    const std::int64_t stepX = stepFor(w, dstW);
    const std::int64_t stepY = stepFor(h, dstH);
    const std::int64_t posX = ((stepX >> 1) - 32768) + x * stepX;
    const std::int64_t posY = ((stepY >> 1) - 32768) + y * stepY;
    const std::int64_t X = posX >> 16;
    const std::int64_t Y = posY >> 16;
    const std::uint32_t u = std::uint32_t(posX >> 8) & 255;
    const std::uint32_t v = std::uint32_t(posY >> 8) & 255;
    const auto neighbour = [&](std::int64_t cx, std::int64_t cy) {
        const bool clamped = cx < 0 || cx >= w || cy < 0 || cy >= h;
        const std::uint32_t p = src.pixel(int(std::clamp<std::int64_t>(cx, 0, w - 1)),
                                          int(std::clamp<std::int64_t>(cy, 0, h - 1)));
        return clamped ? p & 0x00FFFFFFu : p;
    };
    const std::uint32_t p00 = neighbour(X, Y), p01 = neighbour(X + 1, Y);
    const std::uint32_t p10 = neighbour(X, Y + 1), p11 = neighbour(X + 1, Y + 1);
    std::uint32_t result = 0;
    for (int s = 0; s < 32; s += 8) {
        const auto c = [s](std::uint32_t p) { return (p >> s) & 255u; };
        const std::uint32_t r0 = (c(p00) * (256 - u) + c(p01) * u) >> 8;
        const std::uint32_t r1 = (c(p10) * (256 - u) + c(p11) * u) >> 8;
        result |= ((r0 * (256 - v) + r1 * v) >> 8) << s;
    }
    return result;
}

using Routine = std::function<void(const PixelBufferRef&, const PixelBufferRef&)>;

struct Variant {
    std::string name;
    Routine nearest;
    Routine bilinear;
};

framescaler::DestPicture destView(const PixelBufferRef& p)
{
    return {static_cast<std::uint8_t*>(p.pixels), p.stride, p.width, p.height};
}

framescaler::SourcePicture sourceView(const PixelBufferRef& p)
{
    return {static_cast<const std::uint8_t*>(p.pixels), p.stride, p.width, p.height};
}

Variant kernelVariant(const framescaler::NearestKernels& n, const framescaler::BilinearKernels& b)
{
    return {std::string(n.name) + "/" + b.name,
            [&n](const PixelBufferRef& d, const PixelBufferRef& s) { framescaler::zoomNearest(destView(d), sourceView(s), n); },
            [&b](const PixelBufferRef& d, const PixelBufferRef& s) { framescaler::zoomBilinear(destView(d), sourceView(s), b); }};
}

std::vector<Variant> variants()
{
    std::vector<Variant> all{
        {"exported", [](const PixelBufferRef& d, const PixelBufferRef& s) { PicZoom(&d, &s); },
         [](const PixelBufferRef& d, const PixelBufferRef& s) { PicZoom_Bilinear(&d, &s); }},
        kernelVariant(framescaler::kNearest_C, framescaler::kBilinear_C)};
#if defined(__x86_64__)
    all.push_back(kernelVariant(framescaler::kNearest_SSE2, framescaler::kBilinear_SSE2));
    if (framescaler::cpuHasAvx2())
        all.push_back(kernelVariant(framescaler::kNearest_AVX2, framescaler::kBilinear_AVX2));
    if (framescaler::cpuHasAvx512())
        all.push_back(kernelVariant(framescaler::kNearest_AVX2, framescaler::kBilinear_AVX512));
    if (framescaler::cpuHasAvx512Vbmi())
        all.push_back(kernelVariant(framescaler::kNearest_AVX2, framescaler::kBilinear_AVX512_VBMI));
#endif
    return all;
}

std::string describe(const Layout& l)
{
    return std::to_string(l.width) + "x" + std::to_string(l.height) + " pad " + std::to_string(l.padBytes)
        + (l.bottomUp ? " bottom-up" : " top-down") + " misalign " + std::to_string(l.misalign);
}

// Runs one routine into a canary destination and compares every storage byte with the
// reference picture surrounded by untouched canaries. Reports the first differing pixel.
void expectMatchesReference(const Routine& routine, bool bilinear, const CanaryPicture& src, const Layout& dstLayout)
{
    CanaryPicture actual(dstLayout);
    CanaryPicture expected(dstLayout);
    for (int y = 0; y < dstLayout.height; ++y)
        for (int x = 0; x < dstLayout.width; ++x)
            expected.setPixel(x, y, bilinear ? referenceBilinear(src, x, y, dstLayout.width, dstLayout.height)
                                             : referenceNearest(src, x, y, dstLayout.width, dstLayout.height));
    routine(actual.ref(), src.ref());
    const auto& a = actual.storage();
    const auto& e = expected.storage();
    const auto mismatch = std::mismatch(a.begin(), a.end(), e.begin());
    if (mismatch.first == a.end())
        return;
    const auto offset = std::size_t(mismatch.first - a.begin());
    std::string where = "outside the pixels (canary)";
    for (int y = 0; y < dstLayout.height; ++y)
        for (int x = 0; x < dstLayout.width; ++x)
            if (offset >= actual.offsetOf(x, y) && offset < actual.offsetOf(x, y) + 4)
                where = "pixel (" + std::to_string(x) + ", " + std::to_string(y) + ")";
    ADD_FAILURE() << "first wrong byte at storage offset " << offset << ", " << where << ": got "
                  << int(*mismatch.first) << ", want " << int(*mismatch.second);
}

void compareAllVariants(const Layout& srcLayout, const Layout& dstLayout, std::uint32_t seed)
{
    std::mt19937 random(seed);
    CanaryPicture src(srcLayout);
    src.fillRandom(random);
    for (const Variant& variant : variants()) {
        SCOPED_TRACE(variant.name + ": " + describe(srcLayout) + " -> " + describe(dstLayout));
        {
            SCOPED_TRACE("nearest");
            expectMatchesReference(variant.nearest, false, src, dstLayout);
        }
        {
            SCOPED_TRACE("bilinear");
            expectMatchesReference(variant.bilinear, true, src, dstLayout);
        }
    }
}

TEST(PicZoom, AllPathsMatchTheReferenceOnRandomLayouts)
{
    std::mt19937 random(20261211);
    const auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random); };
    for (int round = 0; round < 120; ++round) {
        const auto side = [&] { return pick(0, 5) == 0 ? pick(1, 3) : pick(1, 90); };
        const Layout src{side(), side(), pick(0, 3) * 4 + (pick(0, 4) == 0 ? 1 : 0), pick(0, 1) == 1, pick(0, 7)};
        const Layout dst{side() * pick(1, 2), side(), pick(0, 3) * 4 + (pick(0, 4) == 0 ? 2 : 0), pick(0, 1) == 1,
                         pick(0, 9)};
        compareAllVariants(src, dst, std::uint32_t(round));
    }
}

TEST(PicZoom, AllPathsMatchTheReferenceOnVideoAndExtremeSizes)
{
    struct Case {
        int srcW, srcH, dstW, dstH;
    };
    const Case cases[] = {
        {1280, 720, 1920, 1080}, // enlargement of a whole frame; destination written past the cache
        {1920, 1080, 640, 360},  // 3:1 reduction
        {1920, 1080, 960, 540},  // 2:1
        {300, 4, 200, 3},        // 3:2, both halves of a block from one window
        {1000, 9, 250, 5},       // 4:1, windows a block apart
        {999, 7, 400, 5},        // 2.5:1, every block picking differently
        {1000, 9, 230, 5},       // 4.35:1, beyond what a window holds
        {600, 7, 100, 3},        // 6:1, neighbours gathered
        {960, 5, 1920, 4},       // 1:2
        {77, 3, 19, 2},          // 4:1 on a row that ends inside the first block
        {640, 480, 1024, 768},
        {300, 2, 5000, 3},       // wider than one strip of blended rows
        {1, 1, 9000, 2},         // every pixel by the edge rule
        {4, 4, 1024, 4},         // sampling would pass the last column
        {32767, 2, 5, 3},        // the largest source side
        {2, 32767, 1, 4},
        {7, 5, 7, 5},            // same size
        {16, 16, 4, 4},
    };
    std::uint32_t seed = 1;
    for (const Case& c : cases)
        compareAllVariants({c.srcW, c.srcH, 0, false, 0}, {c.dstW, c.dstH, 12, ++seed % 2 == 0, 0}, seed);
}

TEST(PicZoom, EnlargementPastTheLastColumnAndRowReadsNothingBeyondTheSource)
{
    PageGuardedPicture src(4, 4);
    ASSERT_TRUE(src.valid());
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            src.row(y)[x] = 0x01000000u * std::uint32_t(y) + std::uint32_t(x);
    // Each start alignment puts the last columns into a different part of the vector loops.
    std::vector<std::uint32_t> storage(1024 * 1024 + 8);
    for (int shift = 0; shift < 8; ++shift) {
        std::uint32_t* dst = storage.data() + shift;
        const PixelBufferRef dstRef{dst, 1024 * 4, 1024, 1024};
        const std::uint32_t last = 1024 * 1024 - 1;
        for (const Variant& variant : variants()) {
            SCOPED_TRACE(variant.name + " shifted by " + std::to_string(shift));
            std::fill(storage.begin(), storage.end(), 0xDEADBEEFu);
            variant.nearest(dstRef, src.ref());
            // Without the clamp the last columns and rows would sample index 4, past the picture.
            EXPECT_EQ(dst[1023], 3u);
            EXPECT_EQ(dst[1023 * 1024], 0x03000000u);
            EXPECT_EQ(dst[last], 0x03000003u);
            std::fill(storage.begin(), storage.end(), 0xDEADBEEFu);
            variant.bilinear(dstRef, src.ref());
            EXPECT_EQ(dst[last] & 0x00FFFFFFu, 3u);
        }
    }
}

TEST(PicZoom, ReductionsReadNothingPastTheSourcesLastPixel)
{
    // The last row of each source ends at a guard page: reading its windows past the row's end
    // faults. The plain kernels give the expected bytes.
    struct Case {
        int srcW, srcH, dstW, dstH;
    };
    const Case cases[] = {{1920, 6, 640, 2}, {96, 4, 48, 2}, {1000, 8, 250, 2}, {999, 5, 400, 2}, {333, 3, 100, 1}};
    for (const Case& c : cases) {
        PageGuardedPicture src(c.srcW, c.srcH);
        ASSERT_TRUE(src.valid());
        std::mt19937 random(std::uint32_t(c.srcW));
        for (int y = 0; y < c.srcH; ++y)
            for (int x = 0; x < c.srcW; ++x)
                src.row(y)[x] = std::uint32_t(random());
        std::vector<std::uint32_t> expected(std::size_t(c.dstW) * c.dstH);
        const PixelBufferRef expectedRef{expected.data(), c.dstW * 4, c.dstW, c.dstH};
        framescaler::zoomBilinear(destView(expectedRef), sourceView(src.ref()), framescaler::kBilinear_C);
        for (const Variant& variant : variants()) {
            SCOPED_TRACE(variant.name + ": " + std::to_string(c.srcW) + " -> " + std::to_string(c.dstW));
            std::vector<std::uint32_t> actual(expected.size());
            const PixelBufferRef actualRef{actual.data(), c.dstW * 4, c.dstW, c.dstH};
            variant.bilinear(actualRef, src.ref());
            EXPECT_EQ(actual, expected);
        }
    }
}

TEST(PicZoom, NearestTwoByTwoToFourByFourRepeatsEachPixelTwice)
{
    const std::uint32_t src[4] = {0x11111111, 0x22222222, 0x33333333, 0x44444444};
    std::uint32_t dst[16] = {};
    const PixelBufferRef s{const_cast<std::uint32_t*>(src), 8, 2, 2};
    const PixelBufferRef d{dst, 16, 4, 4};
    PicZoom(&d, &s);
    const std::uint32_t expected[16] = {0x11111111, 0x11111111, 0x22222222, 0x22222222,
                                        0x11111111, 0x11111111, 0x22222222, 0x22222222,
                                        0x33333333, 0x33333333, 0x44444444, 0x44444444,
                                        0x33333333, 0x33333333, 0x44444444, 0x44444444};
    EXPECT_TRUE(std::equal(std::begin(dst), std::end(dst), std::begin(expected)));
}

TEST(PicZoom, NearestToTheSameSizeCopiesExactly)
{
    std::mt19937 random(7);
    CanaryPicture src({333, 77, 8, true, 0});
    src.fillRandom(random);
    CanaryPicture dst({333, 77, 0, true, 0});
    PicZoom(&dst.ref(), &src.ref());
    for (int y = 0; y < 77; ++y)
        for (int x = 0; x < 333; ++x)
            ASSERT_EQ(dst.pixel(x, y), src.pixel(x, y)) << x << ", " << y;
}

TEST(PicZoom, BilinearOfOnePixelKeepsItsColourAndFadesByte3AtTheEdges)
{
    const std::uint32_t src = 0xFF336699u;
    std::uint32_t dst[16];
    const PixelBufferRef s{const_cast<std::uint32_t*>(&src), 4, 1, 1};
    const PixelBufferRef d{dst, 16, 4, 4};
    PicZoom_Bilinear(&d, &s);
    for (std::uint32_t p : dst) {
        EXPECT_EQ(p & 0x00FFFFFFu, 0x336699u);
        EXPECT_LT(p >> 24, 255u);
    }
    // Pixel (0, 0): step 16385, offset -24576, so X = Y = -1 with weights u = v = 160.
    // Across: (0 * 96 + 255 * 160) >> 8 = 159 on row 0; row -1 is all clamped, so 0.
    // Down: (0 * 96 + 159 * 160) >> 8 = 99.
    EXPECT_EQ(dst[0] >> 24, 99u);
}

TEST(PicZoom, BilinearFourToOneSamplesHalfwayBetweenSourcePixelsOneAndTwo)
{
    std::uint32_t src[16];
    for (int i = 0; i < 16; ++i)
        src[i] = 0x01010101u * std::uint32_t(i * 10 + 3);
    std::uint32_t dst[4] = {};
    const PixelBufferRef s{src, 64, 16, 1};
    const PixelBufferRef d{dst, 16, 4, 1};
    PicZoom_Bilinear(&d, &s);
    // Step 262145, offset 98304 = 1.5 pixels: u = 128, so each byte is (13 + 23) * 128 >> 8.
    EXPECT_EQ(dst[0], 0x01010101u * 18u);
}

TEST(PicZoom, UnservableCallsWriteNothing)
{
    std::uint32_t srcPixels[4] = {1, 2, 3, 4};
    const PixelBufferRef goodSource{srcPixels, 8, 2, 2};
    struct Case {
        const char* what;
        PixelBufferRef destination;
        PixelBufferRef source;
        bool nullDestination;
        bool nullSource;
    };
    CanaryPicture canvas({4, 4, 4, false, 0});
    const PixelBufferRef d = canvas.ref();
    const Case cases[] = {
        {"destination width 0", {d.pixels, d.stride, 0, 4}, goodSource, false, false},
        {"destination height 0", {d.pixels, d.stride, 4, 0}, goodSource, false, false},
        {"negative destination width", {d.pixels, d.stride, -4, 4}, goodSource, false, false},
        {"negative destination height", {d.pixels, d.stride, 4, -1}, goodSource, false, false},
        {"null destination pixels", {nullptr, d.stride, 4, 4}, goodSource, false, false},
        {"null destination", d, goodSource, true, false},
        {"null source", d, goodSource, false, true},
        {"null source pixels", d, {nullptr, 8, 2, 2}, false, false},
        {"source width 0", d, {srcPixels, 8, 0, 2}, false, false},
        {"negative source height", d, {srcPixels, 8, 2, -2}, false, false},
        {"source 32768 wide", d, {srcPixels, 8, 32768, 1}, false, false},
        {"source 32768 high", d, {srcPixels, 8, 1, 32768}, false, false},
    };
    const std::vector<std::uint8_t> before = canvas.storage();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const PixelBufferRef* dp = c.nullDestination ? nullptr : &c.destination;
        const PixelBufferRef* sp = c.nullSource ? nullptr : &c.source;
        PicZoom(dp, sp);
        PicZoom_Bilinear(dp, sp);
        EXPECT_EQ(canvas.storage(), before);
    }
}

} // namespace
