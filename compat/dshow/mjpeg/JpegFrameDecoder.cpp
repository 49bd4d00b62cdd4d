#include "compat/dshow/mjpeg/JpegFrameDecoder.h"

#include <algorithm>
#include <libyuv.h>
#include <turbojpeg.h>

namespace sc::mjpeg {
namespace {

constexpr int kDecodeFlags = TJFLAG_STOPONWARNING;

// JPEG pictures use the full 0-255 range; YUY2 video uses 16-235 for Y and 16-240 for U/V.
// Fixed point: 220/256 ≈ 219/255 and 225/256 ≈ 224/255, exact at both ends and at 128.
// 16-bit arithmetic (255 * 225 + 4112 < 65536) lets the compiler use wide vector lanes.
void lumaToVideoLevels(uint8_t *plane, size_t count) {
    for (size_t i = 0; i < count; ++i)
        plane[i] = static_cast<uint8_t>(static_cast<uint16_t>(plane[i] * uint16_t{220} + uint16_t{4224}) >> 8);
}

void chromaToVideoLevels(uint8_t *plane, size_t count) {
    for (size_t i = 0; i < count; ++i)
        plane[i] = static_cast<uint8_t>(static_cast<uint16_t>(plane[i] * uint16_t{225} + uint16_t{4112}) >> 8);
}

} // namespace

JpegFrameDecoder::JpegFrameDecoder() : handle_(tjInitDecompress()) {}

JpegFrameDecoder::~JpegFrameDecoder() {
    if (handle_)
        tjDestroy(handle_);
}

bool JpegFrameDecoder::fail(const char *step) {
    lastError_ = std::string(step) + ": " + tjGetErrorStr2(handle_);
    return false;
}

bool JpegFrameDecoder::readHeader(const uint8_t *jpeg, size_t size, int width, int height,
                                  int &subsampling) {
    if (!handle_) {
        lastError_ = "no JPEG decoder";
        return false;
    }
    if (!jpeg || size < 4 || jpeg[0] != 0xFF || jpeg[1] != 0xD8) {
        lastError_ = "not a JPEG picture";
        return false;
    }
    int frameWidth = 0, frameHeight = 0, colorspace = 0;
    if (tjDecompressHeader3(handle_, jpeg, static_cast<unsigned long>(size), &frameWidth,
                            &frameHeight, &subsampling, &colorspace) != 0)
        return fail("reading the JPEG header");
    if (frameWidth != width || frameHeight != height) {
        lastError_ = "picture is " + std::to_string(frameWidth) + "x" + std::to_string(frameHeight) +
                     ", the stream is " + std::to_string(width) + "x" + std::to_string(height);
        return false;
    }
    return true;
}

bool JpegFrameDecoder::decode(const uint8_t *jpeg, size_t size, int width, int height,
                              PictureFormat format, uint8_t *destination, int stride,
                              bool bottomUp) {
    int subsampling = 0;
    if (!readHeader(jpeg, size, width, height, subsampling))
        return false;
    if (format == PictureFormat::Yuy2)
        return decodeYuy2(jpeg, size, width, height, subsampling, destination, stride);
    int pixelFormat = format == PictureFormat::Rgb24 ? TJPF_BGR : TJPF_BGRX;
    int flags = kDecodeFlags | (bottomUp ? TJFLAG_BOTTOMUP : 0);
    if (tjDecompress2(handle_, jpeg, static_cast<unsigned long>(size), destination, width, stride,
                      height, pixelFormat, flags) != 0)
        return fail("decoding the JPEG picture");
    return true;
}

bool JpegFrameDecoder::decodeYuy2(const uint8_t *jpeg, size_t size, int width, int height,
                                  int subsampling, uint8_t *destination, int stride) {
    const bool gray = subsampling == TJSAMP_GRAY;
    int strides[3] = {};
    size_t planeSizes[3] = {};
    size_t total = 0;
    for (int plane = 0; plane < (gray ? 1 : 3); ++plane) {
        strides[plane] = tjPlaneWidth(plane, width, subsampling);
        planeSizes[plane] = static_cast<size_t>(strides[plane]) * tjPlaneHeight(plane, height, subsampling);
        total += planeSizes[plane];
    }
    if (planes_.size() < total)
        planes_.resize(total);
    unsigned char *planes[3] = {planes_.data(), planes_.data() + planeSizes[0],
                                planes_.data() + planeSizes[0] + planeSizes[1]};
    if (tjDecompressToYUVPlanes(handle_, jpeg, static_cast<unsigned long>(size), planes, width,
                                strides, height, kDecodeFlags) != 0)
        return fail("decoding the JPEG picture");

    if (subsampling == TJSAMP_422 || subsampling == TJSAMP_420) {
        // Level mapping and packing go strip by strip, so each strip is still in the cache
        // when it is packed: one pass over memory instead of two.
        constexpr int kStripRows = 16;
        const int chromaShift = subsampling == TJSAMP_420 ? 1 : 0;
        for (int top = 0; top < height; top += kStripRows) {
            const int rows = std::min(kStripRows, height - top);
            const int chromaTop = top >> chromaShift, chromaRows = (rows + chromaShift) >> chromaShift;
            uint8_t *y = planes[0] + static_cast<size_t>(top) * strides[0];
            uint8_t *u = planes[1] + static_cast<size_t>(chromaTop) * strides[1];
            uint8_t *v = planes[2] + static_cast<size_t>(chromaTop) * strides[2];
            lumaToVideoLevels(y, static_cast<size_t>(rows) * strides[0]);
            chromaToVideoLevels(u, static_cast<size_t>(chromaRows) * strides[1]);
            chromaToVideoLevels(v, static_cast<size_t>(chromaRows) * strides[2]);
            uint8_t *out = destination + static_cast<size_t>(top) * stride;
            if (chromaShift)
                libyuv::I420ToYUY2(y, strides[0], u, strides[1], v, strides[2], out, stride, width, rows);
            else
                libyuv::I422ToYUY2(y, strides[0], u, strides[1], v, strides[2], out, stride, width, rows);
        }
        return true;
    }

    // Other samplings (4:4:4, 4:4:0, 4:1:1, gray) are brought to 4:2:2 first.
    lumaToVideoLevels(planes[0], planeSizes[0]);
    const int chromaWidth = (width + 1) / 2;
    const size_t chromaSize = static_cast<size_t>(chromaWidth) * height;
    if (chroma_.size() < 2 * chromaSize)
        chroma_.resize(2 * chromaSize);
    uint8_t *u422 = chroma_.data(), *v422 = chroma_.data() + chromaSize;
    if (gray) {
        std::fill_n(chroma_.begin(), 2 * chromaSize, uint8_t{128});
    } else {
        chromaToVideoLevels(planes[1], planeSizes[1]);
        chromaToVideoLevels(planes[2], planeSizes[2]);
        const int planeWidth = strides[1], planeHeight = tjPlaneHeight(1, height, subsampling);
        libyuv::ScalePlane(planes[1], strides[1], planeWidth, planeHeight, u422, chromaWidth, chromaWidth,
                           height, libyuv::kFilterBilinear);
        libyuv::ScalePlane(planes[2], strides[2], planeWidth, planeHeight, v422, chromaWidth, chromaWidth,
                           height, libyuv::kFilterBilinear);
    }
    libyuv::I422ToYUY2(planes[0], strides[0], u422, chromaWidth, v422, chromaWidth, destination, stride, width,
                       height);
    return true;
}

} // namespace sc::mjpeg
