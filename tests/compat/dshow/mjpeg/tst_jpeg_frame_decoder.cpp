#include "compat/dshow/mjpeg/JpegFrameDecoder.h"
#include "tests/support/JpegTestPictures.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <libyuv.h>
#include <turbojpeg.h>

using namespace sc;
using mjpeg::PictureFormat;

namespace {

constexpr int kWidth = 320, kHeight = 240;

// The picture as video-level YUY2, converted from the decoded RGB by libyuv (BT.601).
std::vector<uint8_t> referenceYuy2(const std::vector<uint8_t> &jpeg, int height) {
    std::vector<uint8_t> bgrx(kWidth * height * 4), yuy2(kWidth * height * 2);
    tjhandle decoder = tjInitDecompress();
    EXPECT_EQ(tjDecompress2(decoder, jpeg.data(), jpeg.size(), bgrx.data(), kWidth, kWidth * 4,
                            height, TJPF_BGRX, 0), 0);
    tjDestroy(decoder);
    libyuv::ARGBToYUY2(bgrx.data(), kWidth * 4, yuy2.data(), kWidth * 2, kWidth, height);
    return yuy2;
}

} // namespace

TEST(JpegFrameDecoder, DecodesEverySamplingToVideoLevelYuy2) {
    struct Case {
        const char *name;
        int subsampling;
        bool stripTables;
        int height;
    };
    const Case cases[] = {
        {"4:2:2", TJSAMP_422, false, kHeight}, {"4:2:0", TJSAMP_420, false, kHeight},
        {"4:4:4", TJSAMP_444, false, kHeight}, {"gray", TJSAMP_GRAY, false, kHeight},
        {"4:2:2 without Huffman tables", TJSAMP_422, true, kHeight},
        {"4:2:0 of an odd height", TJSAMP_420, false, 171},  // bars end on a block edge: row 128
    };
    mjpeg::JpegFrameDecoder decoder;
    for (const Case &c : cases) {
        const int kHeight = c.height;  // the picture's height in this case
        std::vector<uint8_t> jpeg = test::colourBarsJpeg(kWidth, kHeight, c.subsampling);
        std::vector<uint8_t> expected = referenceYuy2(jpeg, kHeight);
        if (c.stripTables)
            jpeg = test::withoutHuffmanTables(jpeg);
        std::vector<uint8_t> yuy2(kWidth * kHeight * 2, 0);
        ASSERT_TRUE(decoder.decode(jpeg.data(), jpeg.size(), kWidth, kHeight, PictureFormat::Yuy2,
                                   yuy2.data(), kWidth * 2))
            << c.name << ": " << decoder.lastError();
        // Inside the bars (away from their edges, where chroma sampling differs) every byte
        // matches the reference conversion within rounding.
        int worst = 0;
        for (int y = 4; y < kHeight * 3 / 4 - 4; ++y)
            for (int x = 0; x < kWidth * 2; ++x) {
                int column = x / 2;
                if (column % (kWidth / 8) < 6 || column % (kWidth / 8) > kWidth / 8 - 6)
                    continue;
                worst = std::max(worst, std::abs(yuy2[y * kWidth * 2 + x] - expected[y * kWidth * 2 + x]));
            }
        EXPECT_LE(worst, 5) << c.name;  // a wrong range or swapped chroma is off by 16 or more
        // White and black bars land on video white and black.
        EXPECT_NEAR(yuy2[(kHeight / 2) * kWidth * 2 + 2 * 10], 235, 2) << c.name;
        EXPECT_NEAR(yuy2[(kHeight / 2) * kWidth * 2 + 2 * (kWidth - 10)], 16, 2) << c.name;
    }
}

TEST(JpegFrameDecoder, DecodesRgbUprightOrBottomUp) {
    std::vector<uint8_t> jpeg = test::colourBarsJpeg(kWidth, kHeight, TJSAMP_444, 100);
    mjpeg::JpegFrameDecoder decoder;
    const int stride = (kWidth * 3 + 3) & ~3;
    std::vector<uint8_t> topDown(stride * kHeight), bottomUp(stride * kHeight), bgrx(kWidth * kHeight * 4);
    ASSERT_TRUE(decoder.decode(jpeg.data(), jpeg.size(), kWidth, kHeight, PictureFormat::Rgb24,
                               topDown.data(), stride, false));
    ASSERT_TRUE(decoder.decode(jpeg.data(), jpeg.size(), kWidth, kHeight, PictureFormat::Rgb24,
                               bottomUp.data(), stride, true));
    ASSERT_TRUE(decoder.decode(jpeg.data(), jpeg.size(), kWidth, kHeight, PictureFormat::Rgb32,
                               bgrx.data(), kWidth * 4, false));
    // Cyan bar (third column) at the top; grey ramp at the bottom.
    const uint8_t *cyan = &topDown[10 * stride + (kWidth * 5 / 16) * 3];
    EXPECT_NEAR(cyan[0], 255, 3);
    EXPECT_NEAR(cyan[1], 255, 3);
    EXPECT_NEAR(cyan[2], 0, 3);
    for (int y : {0, kHeight / 2, kHeight - 1})
        EXPECT_EQ(0, std::memcmp(&topDown[y * stride], &bottomUp[(kHeight - 1 - y) * stride], kWidth * 3)) << y;
    for (int x = 0; x < kWidth; x += 37)
        for (int channel = 0; channel < 3; ++channel)
            EXPECT_EQ(bgrx[(kHeight / 3 * kWidth + x) * 4 + channel], topDown[kHeight / 3 * stride + x * 3 + channel]);
}

TEST(JpegFrameDecoder, RejectsBrokenFramesAndRecovers) {
    const std::vector<uint8_t> good = test::colourBarsJpeg(kWidth, kHeight, TJSAMP_422);
    auto truncated = [&](double share) {
        return std::vector<uint8_t>(good.begin(), good.begin() + static_cast<long>(good.size() * share));
    };
    std::vector<uint8_t> badMarker = good;
    badMarker[good.size() / 2] = 0xFF;  // a marker in the middle of the picture data
    badMarker[good.size() / 2 + 1] = 0xC8;
    std::vector<uint8_t> garbage(4000);
    for (size_t i = 0; i < garbage.size(); ++i)
        garbage[i] = static_cast<uint8_t>(i * 7919 % 251);
    std::vector<uint8_t> garbageAfterStart = garbage;
    garbageAfterStart[0] = 0xFF;
    garbageAfterStart[1] = 0xD8;

    struct Case {
        const char *name;
        std::vector<uint8_t> frame;
    };
    const Case cases[] = {
        {"empty", {}},
        {"garbage", garbage},
        {"garbage after a start marker", garbageAfterStart},
        {"header only", truncated(0.1)},
        {"cut in the middle", truncated(0.6)},
        {"last bytes missing", truncated(0.98)},
        {"marker inside the picture data", badMarker},
        {"another size", test::colourBarsJpeg(kWidth * 2, kHeight * 2, TJSAMP_422)},
    };
    mjpeg::JpegFrameDecoder decoder;
    std::vector<uint8_t> out(kWidth * kHeight * 2);
    for (const Case &c : cases) {
        for (PictureFormat format : {PictureFormat::Yuy2, PictureFormat::Rgb32}) {
            std::vector<uint8_t> rgb(kWidth * kHeight * 4);
            uint8_t *destination = format == PictureFormat::Yuy2 ? out.data() : rgb.data();
            int stride = format == PictureFormat::Yuy2 ? kWidth * 2 : kWidth * 4;
            EXPECT_FALSE(decoder.decode(c.frame.data(), c.frame.size(), kWidth, kHeight, format,
                                        destination, stride))
                << c.name;
            EXPECT_FALSE(decoder.lastError().empty()) << c.name;
        }
        // A good frame right after a broken one decodes as usual.
        EXPECT_TRUE(decoder.decode(good.data(), good.size(), kWidth, kHeight, PictureFormat::Yuy2,
                                   out.data(), kWidth * 2))
            << "after " << c.name << ": " << decoder.lastError();
    }
}
