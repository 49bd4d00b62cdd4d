#include "Yuy2Converter.h"
#include "Yuy2Pictures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

using filters::PictureLayout;
using filters::PixelFormat;

namespace {

struct Rgb {
    int r, g, b;
};
// Vertical bars, one colour per column pair, so each YUY2 pair has one colour.
const Rgb kBars[] = {{255, 255, 255}, {0, 0, 0}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {128, 128, 128}};
constexpr int kWidth = 2 * std::size(kBars); // 12: RGB24 rows of 36 bytes; 14 would pad
constexpr int kHeight = 4;

testpic::Yuv bt601(Rgb c)
{
    auto clamp = [](double v) { return static_cast<uint8_t>(std::lround(std::clamp(v, 0.0, 255.0))); };
    return {clamp(0.257 * c.r + 0.504 * c.g + 0.098 * c.b + 16),
            clamp(-0.148 * c.r - 0.291 * c.g + 0.439 * c.b + 128),
            clamp(0.439 * c.r - 0.368 * c.g - 0.071 * c.b + 128)};
}

// Bars in the top row pair colours; the bottom two rows are all black so a flip shows.
std::vector<uint8_t> makeRgb(const PictureLayout& l)
{
    std::vector<uint8_t> pic(size_t(l.size()), 0);
    const int bytes = l.format == PixelFormat::Rgb24 ? 3 : 4;
    for (int row = 0; row < l.height; ++row) {
        const int memoryRow = l.bottomUp ? l.height - 1 - row : row;
        for (int x = 0; x < l.width; ++x) {
            const Rgb c = row < 2 ? kBars[x / 2] : Rgb{0, 0, 0};
            uint8_t* p = &pic[size_t(memoryRow) * l.stride() + x * bytes];
            p[0] = uint8_t(c.b);
            p[1] = uint8_t(c.g);
            p[2] = uint8_t(c.r);
            if (bytes == 4)
                p[3] = 255;
        }
    }
    return pic;
}

} // namespace

class RgbToYuy2 : public ::testing::TestWithParam<PictureLayout> {};

TEST_P(RgbToYuy2, ColoursAndRowOrderSurvive)
{
    const PictureLayout layout = GetParam();
    const auto in = makeRgb(layout);
    std::vector<uint8_t> out(size_t(kWidth) * 2 * kHeight);
    filters::Yuy2Converter().convert(in.data(), layout, out.data(), kWidth * 2);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            const testpic::Yuv want = bt601(y < 2 ? kBars[x / 2] : Rgb{0, 0, 0});
            const testpic::Yuv got = testpic::pixelAt(out, kWidth, x, y);
            EXPECT_NEAR(got.y, want.y, 2) << x << "," << y;
            EXPECT_NEAR(got.u, want.u, 2) << x << "," << y;
            EXPECT_NEAR(got.v, want.v, 2) << x << "," << y;
        }
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, RgbToYuy2,
    ::testing::Values(PictureLayout{PixelFormat::Rgb32, kWidth, kHeight, false},
                      PictureLayout{PixelFormat::Rgb32, kWidth, kHeight, true},
                      PictureLayout{PixelFormat::Rgb24, kWidth, kHeight, false},
                      PictureLayout{PixelFormat::Rgb24, kWidth, kHeight, true}),
    [](const auto& info) {
        return std::string(info.param.format == PixelFormat::Rgb24 ? "Rgb24" : "Rgb32") +
               (info.param.bottomUp ? "BottomUp" : "TopDown");
    });

TEST(Yuy2Converter, Rgb24RowsArePaddedToFourBytes)
{
    const PictureLayout odd{PixelFormat::Rgb24, 14, 2, false};
    EXPECT_EQ(odd.stride(), 44); // 42 bytes of pixels + 2 of padding
    std::vector<uint8_t> in(size_t(odd.size()), 0);
    for (int x = 0; x < 14; ++x)
        in[size_t(odd.stride()) + x * 3 + 2] = 255; // second row red
    std::vector<uint8_t> out(14 * 2 * 2);
    filters::Yuy2Converter().convert(in.data(), odd, out.data(), 28);
    EXPECT_NEAR(testpic::pixelAt(out, 14, 13, 0).y, 16, 1);
    EXPECT_NEAR(testpic::pixelAt(out, 14, 0, 1).v, bt601({255, 0, 0}).v, 2);
    EXPECT_NEAR(testpic::pixelAt(out, 14, 13, 1).v, bt601({255, 0, 0}).v, 2);
}

TEST(Yuy2Converter, Yuy2IsCopiedAndFlippedWhenBottomUp)
{
    const auto top = testpic::solidYuy2(4, 1, {200, 100, 50});
    const auto bottom = testpic::solidYuy2(4, 1, {30, 128, 128});
    std::vector<uint8_t> in(top);
    in.insert(in.end(), bottom.begin(), bottom.end());
    std::vector<uint8_t> out(16);
    filters::Yuy2Converter().convert(in.data(), {PixelFormat::Yuy2, 4, 2, true}, out.data(), 8);
    EXPECT_EQ(testpic::pixelAt(out, 4, 1, 0), (testpic::Yuv{30, 128, 128}));
    EXPECT_EQ(testpic::pixelAt(out, 4, 1, 1), (testpic::Yuv{200, 100, 50}));
}
