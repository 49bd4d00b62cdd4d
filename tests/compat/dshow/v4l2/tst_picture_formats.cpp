#include "compat/dshow/v4l2/PictureFormats.h"

#include <gtest/gtest.h>

#include <linux/videodev2.h>

using namespace sc::v4l2;

TEST(PictureFormats, MediaTypesOfCameraFormats) {
    struct Case {
        uint32_t pixelFormat;
        GUID subtype;
        uint16_t bitCount;
        uint32_t imageSize;
        bool fixedSize;
    };
    const Case cases[] = {
        {V4L2_PIX_FMT_YUYV, MEDIASUBTYPE_YUY2, 16, 640 * 480 * 2, true},
        {V4L2_PIX_FMT_MJPEG, MEDIASUBTYPE_MJPG, 24, 640 * 480 * 2, false},
        {V4L2_PIX_FMT_RGB24, MEDIASUBTYPE_RGB24, 24, 640 * 480 * 3, true},
        {V4L2_PIX_FMT_BGR24, MEDIASUBTYPE_RGB24, 24, 640 * 480 * 3, true},
        {V4L2_PIX_FMT_H264, FourCCGuid(V4L2_PIX_FMT_H264), 0, 640 * 480 * 2, false},
    };
    for (const Case &c : cases) {
        CaptureFormat format{c.pixelFormat, 640, 480, false, {{1, 15}}};
        AM_MEDIA_TYPE type = mediaTypeFor(format, 666666);
        ASSERT_NE(type.VideoInfo(), nullptr) << fourccText(c.pixelFormat);
        EXPECT_EQ(type.majortype, MEDIATYPE_Video);
        EXPECT_EQ(type.subtype, c.subtype) << fourccText(c.pixelFormat);
        EXPECT_EQ(type.VideoInfo()->AvgTimePerFrame, 666666);
        EXPECT_EQ(type.VideoInfo()->bmiHeader.biWidth, 640);
        EXPECT_EQ(type.VideoInfo()->bmiHeader.biHeight, 480);
        EXPECT_EQ(type.VideoInfo()->bmiHeader.biBitCount, c.bitCount) << fourccText(c.pixelFormat);
        EXPECT_EQ(type.VideoInfo()->bmiHeader.biSizeImage, c.imageSize) << fourccText(c.pixelFormat);
        EXPECT_EQ(type.bFixedSizeSamples != 0, c.fixedSize) << fourccText(c.pixelFormat);
        EXPECT_TRUE(describes(type, format));
        EXPECT_FALSE(describes(type, CaptureFormat{c.pixelFormat, 640, 360, false, {}}));
    }
}

TEST(PictureFormats, PacksPicturesInTheLayoutTheirTypePromises) {
    // 4 x 2 pictures; the camera pads rows to `line` bytes.
    auto pattern = [](size_t bytes) {
        std::vector<uint8_t> data(bytes);
        for (size_t i = 0; i < bytes; ++i)
            data[i] = static_cast<uint8_t>(i);
        return data;
    };
    struct Case {
        const char *name;
        AppliedFormat format;
        std::vector<uint8_t> picture;
        std::vector<uint8_t> expected;
    };
    std::vector<Case> cases = {
        {"YUYV rows unpadded", {V4L2_PIX_FMT_YUYV, 4, 2, 12, 24, {}}, pattern(24),
         {0, 1, 2, 3, 4, 5, 6, 7, 12, 13, 14, 15, 16, 17, 18, 19}},
        // RGB24 is R G B: bitmap rows go bottom first, blue first, padded to 4 bytes.
        {"RGB3 upright and swapped", {V4L2_PIX_FMT_RGB24, 2, 2, 6, 12, {}}, pattern(12),
         {8, 7, 6, 11, 10, 9, 0, 0, 2, 1, 0, 5, 4, 3, 0, 0}},
        {"BGR3 upright", {V4L2_PIX_FMT_BGR24, 2, 2, 8, 16, {}}, pattern(16),
         {8, 9, 10, 11, 12, 13, 0, 0, 0, 1, 2, 3, 4, 5, 0, 0}},
        {"MJPG as it came", {V4L2_PIX_FMT_MJPEG, 4, 2, 0, 16, {}}, pattern(5), pattern(5)},
        {"I420 planes unpadded", {V4L2_PIX_FMT_YUV420, 2, 2, 4, 12, {}}, pattern(12),
         {0, 1, 4, 5, 8, 10}},
    };
    for (const Case &c : cases) {
        std::vector<uint8_t> out(64, 0xEE);
        size_t written = packPicture(c.format, c.picture.data(), c.picture.size(), out.data(), out.size());
        out.resize(written);
        EXPECT_EQ(out, c.expected) << c.name;
        EXPECT_LE(written, largestPictureBytes(c.format)) << c.name;
        // A picture cut short (a damaged frame), or a sample too small, gives nothing.
        if (c.format.pixelFormat != V4L2_PIX_FMT_MJPEG) {
            EXPECT_EQ(packPicture(c.format, c.picture.data(), c.picture.size() / 2, out.data(), 64), 0u) << c.name;
        }
        std::vector<uint8_t> small(c.expected.size() - 1);
        EXPECT_EQ(packPicture(c.format, c.picture.data(), c.picture.size(), small.data(), small.size()), 0u) << c.name;
    }
}
