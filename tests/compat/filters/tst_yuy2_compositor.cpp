#include "Yuy2Compositor.h"
#include "Yuy2Pictures.h"

#include <gtest/gtest.h>

#include <sstream>

using filters::Yuy2Compositor;
using testpic::Yuv;

namespace {

constexpr Yuv kBlack{16, 128, 128};
constexpr Yuv kGrey{125, 128, 128};
// One colour and size per input; sizes differ so that every layer really scales.
constexpr Yuv kColour[5] = {{40, 90, 160}, {81, 90, 240}, {145, 54, 34}, {210, 16, 146}, {60, 200, 100}};
constexpr int kSize[5][2] = {{320, 240}, {640, 480}, {352, 288}, {1280, 720}, {800, 600}};

void feedAll(Yuy2Compositor& c)
{
    for (int i = 0; i < 5; ++i) {
        c.setInputSize(i, kSize[i][0], kSize[i][1]);
        const auto pic = testpic::solidYuy2(kSize[i][0], kSize[i][1], kColour[i]);
        c.deliver(i, pic.data(), kSize[i][0] * 2);
    }
}

std::vector<uint8_t> compose(Yuy2Compositor& c)
{
    std::vector<uint8_t> out(size_t(c.outputStride()) * c.outputHeight(), 0);
    c.compose(out.data(), c.outputStride());
    return out;
}

// Counts pixels that differ from what `expected` says for (x, y); reports the first.
template <typename F>
int mismatches(const std::vector<uint8_t>& out, int w, int h, F expected, std::string* first)
{
    int bad = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const Yuv want = expected(x, y);
            const Yuv got = testpic::pixelAt(out, w, x, y);
            if (!(got == want) && bad++ == 0 && first) {
                std::ostringstream text;
                text << "(" << x << "," << y << ") Y" << int(got.y) << " U" << int(got.u) << " V"
                     << int(got.v) << ", want Y" << int(want.y) << " U" << int(want.u) << " V"
                     << int(want.v);
                *first = text.str();
            }
        }
    return bad;
}

} // namespace

TEST(Yuy2Compositor, ShowInputFillsTheOutputWithThatInputAlone)
{
    Yuy2Compositor c;
    c.setOutputSize(640, 360);
    feedAll(c);
    for (int k = 0; k < 5; ++k) {
        c.showInput(k);
        std::string first;
        EXPECT_EQ(mismatches(compose(c), 640, 360, [&](int, int) { return kColour[k]; }, &first), 0)
            << "input " << k << " " << first;
    }
}

TEST(Yuy2Compositor, InputThatNeverSentIsBlackAndLastPictureRepeats)
{
    Yuy2Compositor c;
    c.setOutputSize(320, 240);
    c.setInputSize(2, 320, 240);
    c.showInput(2);
    std::string first;
    EXPECT_EQ(mismatches(compose(c), 320, 240, [](int, int) { return kBlack; }, &first), 0) << first;

    const auto pic = testpic::solidYuy2(320, 240, kColour[2]);
    c.deliver(2, pic.data(), 640);
    for (int repeat = 0; repeat < 3; ++repeat)
        EXPECT_EQ(mismatches(compose(c), 320, 240, [](int, int) { return kColour[2]; }, &first), 0)
            << "compose " << repeat << " " << first;
}

// Layout modes 4 and 5: a full-frame input with input 1 as an inset and its grey border, at
// every output size the settings offer (inset and border rectangles as the preview sends them).
struct InsetCase {
    int w, h;
    TSwitcherRect inset, border;
};
class InsetLayout : public ::testing::TestWithParam<InsetCase> {};

TEST_P(InsetLayout, InsetAndBorderLandExactlyOnTheirRectangles)
{
    const InsetCase& tc = GetParam();
    for (int fullInput : {3, 2}) {
        Yuy2Compositor c;
        c.setOutputSize(tc.w, tc.h);
        feedAll(c);
        TSwitcherLayer layers[kSwitcherLayerCount] = {};
        layers[0].enabled = -1;
        layers[0].input = fullInput;
        layers[0].sourceRect = {0, 0, kSize[fullInput][0], kSize[fullInput][1]};
        layers[0].destRect = {0, 0, tc.w, tc.h};
        layers[1].enabled = -1;
        layers[1].input = 1;
        layers[1].sourceRect = {0, 0, kSize[1][0], kSize[1][1]};
        layers[1].destRect = tc.inset;
        layers[1].borderOn = 1;
        layers[1].borderRect = tc.border;
        layers[1].borderThickness = 2;
        layers[1].borderYuv[0] = 125;
        layers[1].borderYuv[1] = 128;
        layers[1].borderYuv[2] = 128;
        layers[1].borderRgb = 8421504;
        layers[2].enabled = 0; // not in use: must not show
        layers[2].input = 4;
        layers[2].destRect = {0, 0, tc.w, tc.h};
        c.showLayers(layers, kSwitcherLayerCount);

        auto inside = [](const TSwitcherRect& r, int x, int y) {
            return x >= r.x && x < r.x + r.width && y >= r.y && y < r.y + r.height;
        };
        const TSwitcherRect b = tc.border;
        const TSwitcherRect core{b.x + 2, b.y + 2, b.width - 4, b.height - 4};
        auto expected = [&](int x, int y) {
            if (inside(b, x, y) && !inside(core, x, y))
                return kGrey;
            if (inside(tc.inset, x, y))
                return kColour[1];
            return kColour[fullInput];
        };
        std::string first;
        EXPECT_EQ(mismatches(compose(c), tc.w, tc.h, expected, &first), 0)
            << tc.w << "x" << tc.h << " full input " << fullInput << ": " << first;
    }
}

INSTANTIATE_TEST_SUITE_P(
    OutputSizes, InsetLayout,
    ::testing::Values(InsetCase{640, 480, {420, 8, 212, 164}, {420, 8, 210, 164}},
                      InsetCase{800, 600, {528, 8, 264, 204}, {528, 8, 264, 204}},
                      InsetCase{1024, 768, {672, 12, 340, 260}, {672, 12, 338, 260}},
                      InsetCase{640, 360, {420, 8, 212, 124}, {420, 8, 210, 124}},
                      InsetCase{800, 450, {528, 8, 264, 152}, {528, 8, 264, 152}},
                      InsetCase{1280, 720, {840, 16, 424, 244}, {840, 16, 424, 244}}),
    [](const auto& info) { return std::to_string(info.param.w) + "x" + std::to_string(info.param.h); });

TEST(Yuy2Compositor, LayerShowsItsSourceRectangleScaledIntoItsDestination)
{
    // Input 1: a luma ramp across 640 pixels, left half U 60, right half U 200.
    constexpr int kW = 640, kH = 120;
    std::vector<uint8_t> ramp(size_t(kW) * kH * 2);
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; x += 2) {
            uint8_t* p = &ramp[(size_t(y) * kW + x) * 2];
            p[0] = static_cast<uint8_t>(16 + x * 200 / kW);
            p[2] = static_cast<uint8_t>(16 + (x + 1) * 200 / kW);
            p[1] = x < kW / 2 ? 60 : 200;
            p[3] = 128;
        }
    Yuy2Compositor c;
    c.setOutputSize(320, 240);
    c.setInputSize(1, kW, kH);
    c.deliver(1, ramp.data(), kW * 2);
    TSwitcherLayer layer{};
    layer.enabled = -1;
    layer.input = 1;
    layer.sourceRect = {kW / 2, 0, kW / 2, kH}; // right half only
    layer.destRect = {0, 0, 160, 240};          // half width, double height
    c.showLayers(&layer, 1);
    const auto out = compose(c);
    for (int x = 2; x < 158; x += 4) {
        const Yuv px = testpic::pixelAt(out, 320, x, 100);
        const int sourceX = kW / 2 + x * 2; // 2:1 horizontally
        EXPECT_NEAR(px.y, 16 + sourceX * 200 / kW, 3) << "x " << x;
        EXPECT_EQ(px.u, 200) << "x " << x;
    }
    EXPECT_EQ(testpic::pixelAt(out, 320, 200, 100), kBlack) << "outside every layer";
}
