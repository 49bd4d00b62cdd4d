#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sc::mjpeg {

enum class PictureFormat {
    Yuy2,   // 4:2:2 packed Y0 U Y1 V, video levels (Y 16-235, U/V 16-240)
    Rgb24,  // B G R
    Rgb32,  // B G R X
};

// Decodes the JPEG pictures of a motion-JPEG stream into a caller's buffer. Keeps its decoder
// and scratch planes between frames, so a stream of frames allocates nothing per frame.
class JpegFrameDecoder {
public:
    JpegFrameDecoder();
    ~JpegFrameDecoder();
    JpegFrameDecoder(const JpegFrameDecoder &) = delete;
    JpegFrameDecoder &operator=(const JpegFrameDecoder &) = delete;

    // Decodes a frame that must be exactly width x height. Rows are `stride` bytes apart;
    // `bottomUp` writes the last picture row first (the layout of upright RGB bitmaps).
    // Returns false for a corrupt, truncated or differently sized frame (lastError() says
    // which); the destination is then left partly written and the frame must be dropped.
    bool decode(const uint8_t *jpeg, size_t size, int width, int height, PictureFormat format,
                uint8_t *destination, int stride, bool bottomUp = false);
    const std::string &lastError() const { return lastError_; }

private:
    bool readHeader(const uint8_t *jpeg, size_t size, int width, int height, int &subsampling);
    bool decodeYuy2(const uint8_t *jpeg, size_t size, int width, int height, int subsampling,
                    uint8_t *destination, int stride);
    bool fail(const char *step);

    void *handle_;
    std::vector<uint8_t> planes_;   // the decoder's own Y, Cb, Cr planes
    std::vector<uint8_t> chroma_;   // Cb and Cr brought to 4:2:2
    std::string lastError_;
};

} // namespace sc::mjpeg
