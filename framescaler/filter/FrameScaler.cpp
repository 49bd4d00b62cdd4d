#include "filter/FrameScaler.h"

#include "zoom/Zoom.h"

#include <cstring>
#include <new>

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
// source below 32768 per side here.
void scale(uint8_t* dst, FrameSize dstSize, const uint8_t* src, FrameSize srcSize, ScaleMode mode)
{
    const DestPicture d{dst, ptrdiff_t{dstSize.width} * 4, dstSize.width, dstSize.height};
    const SourcePicture s{src, ptrdiff_t{srcSize.width} * 4, srcSize.width, srcSize.height};
    if (mode == ScaleMode::Bilinear)
        zoomBilinear(d, s, *bestKernels().bilinear);
    else
        zoomNearest(d, s, *bestKernels().nearest);
}

} // namespace

HRESULT FrameScaler::render(const FrameJob& job)
{
    const auto outBytes = static_cast<size_t>(rgb32Bytes(job.outputSize));
    if (job.pause) {
        std::memset(job.output, 0, outBytes);
        return S_OK;
    }
    if (job.inputSize == job.outputSize) {
        std::memcpy(job.output, job.input, outBytes);
        return S_OK;
    }
    const FrameSize fit = fitInside(job.inputSize, job.outputSize);
    if (!job.keepAspect || fit == job.outputSize) {
        scale(job.output, job.outputSize, job.input, job.inputSize, job.mode);
        return S_OK;
    }
    if (fit.width <= 0 || fit.height <= 0) {
        std::memset(job.output, 0, outBytes); // nothing of the picture is left at this size
        return S_OK;
    }
    try {
        m_work.resize(static_cast<size_t>(rgb32Bytes(fit)));
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    scale(m_work.data(), fit, job.input, job.inputSize, job.mode);
    std::memset(job.output, 0, outBytes);
    const size_t outRow = size_t(job.outputSize.width) * 4;
    if (fit.width == job.outputSize.width) {
        // Bars above and below.
        const size_t top = size_t((job.outputSize.height - fit.height) / 2);
        std::memcpy(job.output + top * outRow, m_work.data(), m_work.size());
    } else {
        // Bars left and right.
        const size_t left = size_t((job.outputSize.width - fit.width) / 2) * 4;
        const size_t fitRow = size_t(fit.width) * 4;
        for (int32_t y = 0; y < fit.height; ++y)
            std::memcpy(job.output + size_t(y) * outRow + left, m_work.data() + size_t(y) * fitRow, fitRow);
    }
    return S_OK;
}

} // namespace framescaler
