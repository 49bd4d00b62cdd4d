#include "Zoom.h"

#include <algorithm>

namespace framescaler {

void zoomNearest(const DestPicture& dst, const SourcePicture& src, const NearestKernels& kernels)
{
    const auto stepX = static_cast<std::uint32_t>(zoomStep(src.width, dst.width));
    const auto stepY = static_cast<std::uint32_t>(zoomStep(src.height, dst.height));
    const auto lastColumn = static_cast<std::uint32_t>(src.width - 1);
    const auto lastRow = static_cast<std::uint32_t>(src.height - 1);
    // (height - 1) * step stays below 2^32 for any source below 32768 rows, so the 32-bit
    // position never wraps; it can pass the last row on huge enlargements, hence the clamp.
    std::uint32_t srcY = 0;
    for (int y = 0; y < dst.height; ++y) {
        const std::uint32_t row = std::min(srcY >> 16, lastRow);
        kernels.row(dst.row(y), src.row(row), dst.width, stepX, lastColumn);
        srcY += stepY;
    }
    kernels.finish();
}

namespace {

void nearestRow_C(std::uint8_t* dst, const std::uint8_t* srcRow, int width, std::uint32_t stepX,
                  std::uint32_t lastColumn)
{
    std::uint32_t srcX = 0;
    for (int x = 0; x < width; ++x) {
        const std::uint32_t column = std::min(srcX >> 16, lastColumn);
        storePixel(dst + std::size_t(x) * 4, loadPixel(srcRow + std::size_t(column) * 4));
        srcX += stepX;
    }
}

void finish_C() {}

} // namespace

const NearestKernels kNearest_C{"C", nearestRow_C, finish_C};

} // namespace framescaler
