#include "compat/dshow/v4l2/PictureFormats.h"

#include <algorithm>
#include <cstring>
#include <linux/videodev2.h>

namespace sc::v4l2 {
namespace {

struct Travel {
    GUID subtype;
    uint32_t compression;
    uint16_t bitCount;
    uint32_t packedLineBytes(uint32_t width) const { return width * bitCount / 8; }
};

constexpr uint32_t kI420 = MakeFourCC('I', '4', '2', '0');

Travel travelOf(uint32_t pixelFormat) {
    switch (pixelFormat) {
    case V4L2_PIX_FMT_YUYV: return {MEDIASUBTYPE_YUY2, MakeFourCC('Y', 'U', 'Y', '2'), 16};
    case V4L2_PIX_FMT_UYVY: return {FourCCGuid(pixelFormat), pixelFormat, 16};
    case V4L2_PIX_FMT_MJPEG:
    case V4L2_PIX_FMT_JPEG: return {MEDIASUBTYPE_MJPG, MakeFourCC('M', 'J', 'P', 'G'), 24};
    case V4L2_PIX_FMT_RGB24:
    case V4L2_PIX_FMT_BGR24: return {MEDIASUBTYPE_RGB24, BI_RGB, 24};
    case V4L2_PIX_FMT_YUV420: return {FourCCGuid(kI420), kI420, 12};
    default: return {FourCCGuid(pixelFormat), pixelFormat, 0};
    }
}

bool isRgb(uint32_t pixelFormat) {
    return pixelFormat == V4L2_PIX_FMT_RGB24 || pixelFormat == V4L2_PIX_FMT_BGR24;
}

bool isCompressed(uint32_t pixelFormat, uint16_t bitCount) {
    return bitCount == 0 || pixelFormat == V4L2_PIX_FMT_MJPEG || pixelFormat == V4L2_PIX_FMT_JPEG;
}

} // namespace

AM_MEDIA_TYPE mediaTypeFor(const CaptureFormat &format, REFERENCE_TIME frameDuration) {
    const Travel travel = travelOf(format.pixelFormat);
    const int32_t width = static_cast<int32_t>(format.width);
    const int32_t height = static_cast<int32_t>(format.height);
    AM_MEDIA_TYPE type = MakeVideoType(travel.subtype, width, height, travel.bitCount,
                                       frameDuration, travel.compression);
    VIDEOINFOHEADER *info = type.VideoInfo();
    if (isCompressed(format.pixelFormat, travel.bitCount)) {
        // Compressed pictures vary in size; a picture never exceeds two bytes a pixel.
        type.bFixedSizeSamples = 0;
        info->bmiHeader.biSizeImage = format.width * format.height * 2;
        type.lSampleSize = info->bmiHeader.biSizeImage;
    } else if (isRgb(format.pixelFormat)) {
        // Upright bitmaps pad each row to four bytes.
        info->bmiHeader.biSizeImage = ((format.width * 3 + 3) & ~3u) * format.height;
        type.lSampleSize = info->bmiHeader.biSizeImage;
    }
    if (frameDuration > 0)
        info->dwBitRate = static_cast<uint32_t>(
            std::min<uint64_t>(uint64_t(info->bmiHeader.biSizeImage) * 8 * UNITS / frameDuration, UINT32_MAX));
    return type;
}

bool describes(const AM_MEDIA_TYPE &type, const CaptureFormat &format) {
    const BITMAPINFOHEADER *header = type.BitmapHeader();
    if (!header || type.majortype != MEDIATYPE_Video)
        return false;
    const Travel travel = travelOf(format.pixelFormat);
    return type.subtype == travel.subtype && header->biWidth == int32_t(format.width) &&
           std::abs(header->biHeight) == int32_t(format.height);
}

size_t largestPictureBytes(const AppliedFormat &format) {
    const Travel travel = travelOf(format.pixelFormat);
    if (isCompressed(format.pixelFormat, travel.bitCount))
        return std::max<size_t>(format.imageSize, size_t(format.width) * format.height * 2);
    if (isRgb(format.pixelFormat))
        return size_t((format.width * 3 + 3) & ~3u) * format.height;
    return size_t(travel.packedLineBytes(format.width)) * format.height;
}

size_t packPicture(const AppliedFormat &format, const uint8_t *picture, size_t size,
                   uint8_t *destination, size_t capacity) {
    const Travel travel = travelOf(format.pixelFormat);
    if (isCompressed(format.pixelFormat, travel.bitCount)) {
        if (size > capacity)
            return 0;
        std::memcpy(destination, picture, size);
        return size;
    }
    const size_t height = format.height;
    if (format.pixelFormat == V4L2_PIX_FMT_YUV420) {
        // Three planes, each with its own row length; packed without padding.
        const size_t width = format.width, line = std::max<size_t>(format.bytesPerLine, width);
        const size_t chromaWidth = (width + 1) / 2, chromaLine = line / 2, chromaHeight = (height + 1) / 2;
        const size_t needed = line * height + 2 * chromaLine * chromaHeight;
        const size_t packed = width * height + 2 * chromaWidth * chromaHeight;
        if (size < needed || capacity < packed)
            return 0;
        uint8_t *out = destination;
        for (size_t y = 0; y < height; ++y, out += width)
            std::memcpy(out, picture + y * line, width);
        const uint8_t *plane = picture + line * height;
        for (int p = 0; p < 2; ++p, plane += chromaLine * chromaHeight)
            for (size_t y = 0; y < chromaHeight; ++y, out += chromaWidth)
                std::memcpy(out, plane + y * chromaLine, chromaWidth);
        return packed;
    }
    const size_t rowBytes = travel.packedLineBytes(format.width);
    const size_t line = std::max<size_t>(format.bytesPerLine, rowBytes);
    if (size < line * (height - 1) + rowBytes)
        return 0;
    if (!isRgb(format.pixelFormat)) {
        if (capacity < rowBytes * height)
            return 0;
        for (size_t y = 0; y < height; ++y)
            std::memcpy(destination + y * rowBytes, picture + y * line, rowBytes);
        return rowBytes * height;
    }
    // RGB: the camera's top row becomes the bitmap's last, and bytes go blue first.
    const size_t bitmapLine = (rowBytes + 3) & ~size_t(3);
    if (capacity < bitmapLine * height)
        return 0;
    const bool swap = format.pixelFormat == V4L2_PIX_FMT_RGB24;
    for (size_t y = 0; y < height; ++y) {
        const uint8_t *in = picture + y * line;
        uint8_t *out = destination + (height - 1 - y) * bitmapLine;
        if (!swap) {
            std::memcpy(out, in, rowBytes);
        } else {
            for (size_t x = 0; x < rowBytes; x += 3) {
                out[x] = in[x + 2];
                out[x + 1] = in[x + 1];
                out[x + 2] = in[x];
            }
        }
        std::memset(out + rowBytes, 0, bitmapLine - rowBytes);
    }
    return bitmapLine * height;
}

} // namespace sc::v4l2
