// The pixel work of the resize filter for one frame: black, a plain copy, or scaling into the
// output, with black bars when the input's aspect ratio is kept. Sizes of 32-bit pixels,
// rows packed (stride = width * 4), both pictures in the same row order.
#pragma once

#include <cstdint>

namespace framescaler {

struct FrameSize {
    int32_t width = 0;
    int32_t height = 0;
    bool operator==(const FrameSize&) const = default;
};

// Bytes of a packed 32-bit picture, in 64 bits.
inline int64_t rgb32Bytes(FrameSize size) { return int64_t{size.width} * size.height * 4; }

// The largest size with the input's aspect ratio inside the output (divisions truncate).
FrameSize fitInside(FrameSize input, FrameSize output);

enum class ScaleMode { Nearest, Bilinear };

// 0 picks nearest neighbour, 1 bilinear; other values are treated as 0 so that the output is
// always written.
ScaleMode scaleModeOf(int32_t mode);

struct FrameJob {
    const uint8_t* input = nullptr;
    FrameSize inputSize;
    uint8_t* output = nullptr;
    FrameSize outputSize;
    bool pause = false;
    bool keepAspect = false;
    ScaleMode mode = ScaleMode::Nearest;
};

// Writes exactly rgb32Bytes(job.outputSize) bytes of job.output and reads at most
// rgb32Bytes(job.inputSize) of job.input.
void renderFrame(const FrameJob& job);

} // namespace framescaler
