#include "Zoom.h"

#include <algorithm>
#include <limits>

namespace framescaler {

namespace {

// Columns are processed in strips so that two blended source rows fit on the stack: no
// allocation per call, and a 4K-wide picture is still one strip.
constexpr int kStripPixels = 4096;
constexpr std::uint32_t kColourBytes = 0x00FFFFFFu;

// Destination index i samples the source at offset + i * step (16.16): its centre mapped into
// the source, less half a source pixel. Positions are kept in 64 bits, so no size wraps them.
struct Axis {
    std::int32_t step;
    std::int32_t offset;
    std::int64_t position(std::int64_t i) const { return offset + i * step; }
};

Axis bilinearAxis(int source, int destination)
{
    const std::int32_t step = zoomStep(source, destination);
    return {step, (step >> 1) - 32768};
}

// Destination indices whose two neighbours (pos >> 16 and the next) both lie inside the source.
struct Span {
    int first;
    int end;
};

Span innerSpan(const Axis& axis, int sourceSize, int destinationSize)
{
    if (sourceSize < 2)
        return {0, 0};
    const std::int64_t first =
        axis.offset >= 0 ? 0 : (-std::int64_t{axis.offset} + axis.step - 1) / axis.step;
    const std::int64_t limit = std::int64_t{sourceSize - 1} << 16;
    const std::int64_t end =
        limit > axis.offset ? (limit - axis.offset + axis.step - 1) / axis.step : 0;
    const auto firstClamped = static_cast<int>(std::min<std::int64_t>(first, destinationSize));
    const auto endClamped = static_cast<int>(
        std::clamp<std::int64_t>(end, firstClamped, destinationSize));
    return {firstClamped, endClamped};
}

// Horizontal blend with the edge rule: a neighbour outside the row reads the nearest edge
// pixel with byte 3 cleared.
std::uint32_t horizontalEdgePixel(const std::uint8_t* row, int width, std::int64_t position)
{
    const std::int64_t x = position >> 16;
    const auto u = static_cast<std::uint32_t>((position >> 8) & 255);
    const auto sample = [&](std::int64_t column) {
        if (column < 0)
            return loadPixel(row) & kColourBytes;
        if (column >= width)
            return loadPixel(row + std::size_t(width - 1) * 4) & kColourBytes;
        return loadPixel(row + std::size_t(column) * 4);
    };
    return blendBytes(sample(x), sample(x + 1), u);
}

struct BilinearGeometry {
    Axis x;
    Axis y;
    Span innerColumns;
};

// Blends destination columns [c0, c1) of source row k horizontally into out. A row outside the
// source reads the nearest edge row with byte 3 cleared in both neighbours, hence in the blend.
void blendSourceRow(std::uint32_t* out, const SourcePicture& src, std::int64_t k,
                    const BilinearGeometry& g, int c0, int c1, const BilinearKernels& kernels)
{
    const bool outside = k < 0 || k >= src.height;
    const std::uint8_t* row = src.row(std::clamp<std::int64_t>(k, 0, src.height - 1));
    const int innerFrom = std::clamp(g.innerColumns.first, c0, c1);
    const int innerTo = std::clamp(g.innerColumns.end, innerFrom, c1);
    for (int x = c0; x < innerFrom; ++x)
        out[x - c0] = horizontalEdgePixel(row, src.width, g.x.position(x));
    if (innerFrom < innerTo)
        kernels.horizontal(out + (innerFrom - c0), row, src.width, innerTo - innerFrom,
                           static_cast<std::int32_t>(g.x.position(innerFrom)), g.x.step);
    for (int x = innerTo; x < c1; ++x)
        out[x - c0] = horizontalEdgePixel(row, src.width, g.x.position(x));
    if (outside)
        for (int i = 0; i < c1 - c0; ++i)
            out[i] &= kColourBytes;
}

// Two blended source rows, kept while consecutive destination rows use them again.
class BlendedRowCache {
public:
    std::uint32_t* fetch(std::int64_t k, int keepSlot, const SourcePicture& src,
                         const BilinearGeometry& g, int c0, int c1, const BilinearKernels& kernels)
    {
        const int held = slotOf(k);
        if (held >= 0)
            return rows_[held];
        int slot = keepSlot == 0 ? 1 : 0;
        if (keepSlot < 0)
            slot = keys_[0] <= keys_[1] ? 0 : 1;
        blendSourceRow(rows_[slot], src, k, g, c0, c1, kernels);
        keys_[slot] = k;
        return rows_[slot];
    }

    int slotOf(std::int64_t k) const { return keys_[0] == k ? 0 : keys_[1] == k ? 1 : -1; }

    void clear() { keys_[0] = keys_[1] = kNone; }

private:
    static constexpr std::int64_t kNone = std::numeric_limits<std::int64_t>::min();
    alignas(64) std::uint32_t rows_[2][kStripPixels];
    std::int64_t keys_[2] = {kNone, kNone};
};

void horizontal_C(std::uint32_t* out, const std::uint8_t* srcRow, int /*rowWidth*/, int count, std::int32_t pos0,
                  std::int32_t step)
{
    std::int32_t position = pos0;
    for (int i = 0; i < count; ++i) {
        const std::uint8_t* pair = srcRow + std::size_t(position >> 16) * 4;
        out[i] = blendBytes(loadPixel(pair), loadPixel(pair + 4),
                            static_cast<std::uint32_t>((position >> 8) & 255));
        position += step;
    }
}

void vertical_C(std::uint8_t* dst, const std::uint32_t* r0, const std::uint32_t* r1, int count,
                int v, bool)
{
    if (v == 0) {
        std::memcpy(dst, r0, std::size_t(count) * 4);
        return;
    }
    for (int i = 0; i < count; ++i)
        storePixel(dst + std::size_t(i) * 4, blendBytes(r0[i], r1[i], static_cast<std::uint32_t>(v)));
}

void finish_C() {}

} // namespace

void zoomBilinear(const DestPicture& dst, const SourcePicture& src, const BilinearKernels& kernels)
{
    BilinearGeometry g;
    g.x = bilinearAxis(src.width, dst.width);
    g.y = bilinearAxis(src.height, dst.height);
    g.innerColumns = innerSpan(g.x, src.width, dst.width);
    const bool stream = std::int64_t{dst.width} * dst.height * 4 >= kStreamingThresholdBytes;

    // From 2:1 on no source row serves two destination rows; rows that need no vertical blend
    // (weight 0) are then blended across straight into the destination.
    const bool rowsNotShared = g.y.step >= 2 * 65536 && !stream;

    BlendedRowCache cache;
    for (int c0 = 0; c0 < dst.width; c0 += kStripPixels) {
        const int c1 = std::min(c0 + kStripPixels, dst.width);
        cache.clear();
        for (int y = 0; y < dst.height; ++y) {
            const std::int64_t position = g.y.position(y);
            const std::int64_t k = position >> 16;
            const int v = static_cast<int>((position >> 8) & 255);
            std::uint8_t* out = dst.row(y) + std::size_t(c0) * 4;
            if (v == 0 && rowsNotShared && (reinterpret_cast<std::uintptr_t>(out) & 3) == 0) {
                blendSourceRow(reinterpret_cast<std::uint32_t*>(out), src, k, g, c0, c1, kernels);
                continue;
            }
            const std::uint32_t* r0 =
                cache.fetch(k, v != 0 ? cache.slotOf(k + 1) : -1, src, g, c0, c1, kernels);
            if (v == 0 && !stream) {
                std::memcpy(out, r0, std::size_t(c1 - c0) * 4); // weight 0 gives r0 exactly
                continue;
            }
            const std::uint32_t* r1 =
                v != 0 ? cache.fetch(k + 1, cache.slotOf(k), src, g, c0, c1, kernels) : nullptr;
            kernels.vertical(out, r0, r1, c1 - c0, v, stream);
        }
    }
    kernels.finish();
}

const BilinearKernels kBilinear_C{"C", horizontal_C, vertical_C, finish_C};

} // namespace framescaler
