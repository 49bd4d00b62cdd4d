#include "filter/FrameScaler.h"

#include "zoom/Zoom.h"

#include <cstring>

namespace framescaler {

FrameSize fitInside(FrameSize input, FrameSize output)
{
    if (input.width <= 0 || input.height <= 0)
        return {0, 0};
    FrameSize fit{output.width, static_cast<int32_t>(int64_t{output.width} * input.height / input.width)};
    if (fit.height > output.height)
        fit = {static_cast<int32_t>(int64_t{input.width} * output.height / input.height), output.height};
    return fit;
}

ScaleMode scaleModeOf(int32_t mode) { return mode == 1 ? ScaleMode::Bilinear : ScaleMode::Nearest; }

namespace {

// The exported routines' work without their argument checks: both sizes are above 0 and the
// source below 32768 per side here. The destination rows are `dstStride` bytes apart.
void scale(uint8_t* dst, ptrdiff_t dstStride, FrameSize dstSize, const uint8_t* src, FrameSize srcSize,
           ScaleMode mode)
{
    const DestPicture d{dst, dstStride, dstSize.width, dstSize.height};
    const SourcePicture s{src, ptrdiff_t{srcSize.width} * 4, srcSize.width, srcSize.height};
    if (mode == ScaleMode::Bilinear)
        zoomBilinear(d, s, *bestKernels().bilinear);
    else
        zoomNearest(d, s, *bestKernels().nearest);
}

} // namespace

void renderFrame(const FrameJob& job)
{
    const auto outBytes = static_cast<size_t>(rgb32Bytes(job.outputSize));
    const auto outRow = ptrdiff_t{job.outputSize.width} * 4;
    if (job.pause) {
        std::memset(job.output, 0, outBytes);
        return;
    }
    if (job.inputSize == job.outputSize) {
        std::memcpy(job.output, job.input, outBytes);
        return;
    }
    const FrameSize fit = fitInside(job.inputSize, job.outputSize);
    if (!job.keepAspect || fit == job.outputSize) {
        scale(job.output, outRow, job.outputSize, job.input, job.inputSize, job.mode);
        return;
    }
    if (fit.width <= 0 || fit.height <= 0) {
        std::memset(job.output, 0, outBytes); // nothing of the picture is left at this size
        return;
    }
    // The picture is scaled straight into its place; only the bars around it are cleared.
    const auto top = size_t((job.outputSize.height - fit.height) / 2);
    const auto left = size_t((job.outputSize.width - fit.width) / 2) * 4;
    const auto fitRow = size_t(fit.width) * 4;
    uint8_t* picture = job.output + top * size_t(outRow) + left;
    std::memset(job.output, 0, top * size_t(outRow));
    for (int32_t y = 0; y < fit.height; ++y) {
        uint8_t* row = job.output + (top + size_t(y)) * size_t(outRow);
        std::memset(row, 0, left);
        std::memset(row + left + fitRow, 0, size_t(outRow) - left - fitRow);
    }
    const size_t below = (top + size_t(fit.height)) * size_t(outRow);
    std::memset(job.output + below, 0, outBytes - below);
    scale(picture, outRow, fit, job.input, job.inputSize, job.mode);
}

} // namespace framescaler
