#include "Zoom.h"

#include <algorithm>
#include <limits>

namespace framescaler {

namespace {

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

// Destination columns [c0, c1) and, within them, those the kernels blend without the edge rule;
// the plan is set when the kernel set plans them.
struct Strip {
    int c0;
    int c1;
    int innerFrom;
    int innerTo;
    const HorizontalPlan* plan;

    Strip(const BilinearGeometry& g, int from, int to)
        : c0(from), c1(to), innerFrom(std::clamp(g.innerColumns.first, from, to)),
          innerTo(std::clamp(g.innerColumns.end, innerFrom, to)), plan(nullptr)
    {
    }
};

// Blends the strip's columns of source row k horizontally into out. A row outside the source
// reads the nearest edge row with byte 3 cleared in both neighbours, hence in the blend. `ahead`
// is how far below k the row the next call blends lies (0: none or the same).
void blendSourceRow(std::uint32_t* out, const SourcePicture& src, std::int64_t k, std::int64_t ahead,
                    const BilinearGeometry& g, const Strip& strip, const BilinearKernels& kernels)
{
    const bool outside = k < 0 || k >= src.height;
    const std::uint8_t* row = src.row(std::clamp<std::int64_t>(k, 0, src.height - 1));
    for (int x = strip.c0; x < strip.innerFrom; ++x)
        out[x - strip.c0] = horizontalEdgePixel(row, src.width, g.x.position(x));
    if (strip.plan != nullptr) {
        const std::int64_t next = k + ahead;
        const std::uint8_t* nextRow = ahead > 0 && next >= 0 && next < src.height ? src.row(next) : nullptr;
        kernels.plannedHorizontal(out + (strip.innerFrom - strip.c0), row, nextRow, *strip.plan);
    } else if (strip.innerFrom < strip.innerTo) {
        kernels.horizontal(out + (strip.innerFrom - strip.c0), row, src.width, strip.innerTo - strip.innerFrom,
                           static_cast<std::int32_t>(g.x.position(strip.innerFrom)), g.x.step);
    }
    for (int x = strip.innerTo; x < strip.c1; ++x)
        out[x - strip.c0] = horizontalEdgePixel(row, src.width, g.x.position(x));
    if (outside)
        for (int i = 0; i < strip.c1 - strip.c0; ++i)
            out[i] &= kColourBytes;
}

// Rows k and k + 1, both inside the source, blended across and down by v straight into out: for
// reductions whose destination rows share no source row.
void blendRowPair(std::uint8_t* out, const SourcePicture& src, std::int64_t k, std::int64_t ahead, int v,
                  const BilinearGeometry& g, const Strip& strip, const BilinearKernels& kernels)
{
    PlannedRows rows{};
    for (int r = 0; r < 2; ++r) {
        rows.row[r] = src.row(k + r);
        const std::int64_t next = k + r + ahead;
        rows.next[r] = ahead > 0 && next < src.height ? src.row(next) : nullptr;
    }
    const auto edgePixel = [&](int x) {
        const std::int64_t position = g.x.position(x);
        return blendBytes(horizontalEdgePixel(rows.row[0], src.width, position),
                          horizontalEdgePixel(rows.row[1], src.width, position), static_cast<std::uint32_t>(v));
    };
    for (int x = strip.c0; x < strip.innerFrom; ++x)
        storePixel(out + std::size_t(x - strip.c0) * 4, edgePixel(x));
    kernels.plannedPair(out + std::size_t(strip.innerFrom - strip.c0) * 4, rows, v, *strip.plan);
    for (int x = strip.innerTo; x < strip.c1; ++x)
        storePixel(out + std::size_t(x - strip.c0) * 4, edgePixel(x));
}

// Two blended source rows, kept while consecutive destination rows use them again.
class BlendedRowCache {
public:
    std::uint32_t* fetch(std::int64_t k, int keepSlot, std::int64_t ahead, const SourcePicture& src,
                         const BilinearGeometry& g, const Strip& strip, const BilinearKernels& kernels)
    {
        const int held = slotOf(k);
        if (held >= 0)
            return rows_[held];
        int slot = keepSlot == 0 ? 1 : 0;
        if (keepSlot < 0)
            slot = keys_[0] <= keys_[1] ? 0 : 1;
        blendSourceRow(rows_[slot], src, k, ahead, g, strip, kernels);
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
    HorizontalPlan plan;
    for (int c0 = 0; c0 < dst.width; c0 += kStripPixels) {
        Strip strip(g, c0, std::min(c0 + kStripPixels, dst.width));
        if (kernels.plan != nullptr && strip.innerFrom < strip.innerTo) {
            kernels.plan(plan, src.width, strip.innerTo - strip.innerFrom,
                         static_cast<std::int32_t>(g.x.position(strip.innerFrom)), g.x.step);
            if (plan.blocks > 0)
                strip.plan = &plan;
        }
        const int width = strip.c1 - strip.c0;
        cache.clear();
        for (int y = 0; y < dst.height; ++y) {
            const std::int64_t position = g.y.position(y);
            const std::int64_t k = position >> 16;
            const std::int64_t ahead = y + 1 < dst.height ? (g.y.position(y + 1) >> 16) - k : 0;
            const int v = static_cast<int>((position >> 8) & 255);
            std::uint8_t* out = dst.row(y) + std::size_t(c0) * 4;
            if (v != 0 && rowsNotShared && strip.plan != nullptr && k >= 0 && k + 1 < src.height) {
                blendRowPair(out, src, k, ahead, v, g, strip, kernels);
                continue;
            }
            if (v == 0 && rowsNotShared && (reinterpret_cast<std::uintptr_t>(out) & 3) == 0) {
                blendSourceRow(reinterpret_cast<std::uint32_t*>(out), src, k, ahead, g, strip, kernels);
                continue;
            }
            const std::uint32_t* r0 =
                cache.fetch(k, v != 0 ? cache.slotOf(k + 1) : -1, ahead, src, g, strip, kernels);
            if (v == 0 && !stream) {
                std::memcpy(out, r0, std::size_t(width) * 4); // weight 0 gives r0 exactly
                continue;
            }
            const std::uint32_t* r1 =
                v != 0 ? cache.fetch(k + 1, cache.slotOf(k), ahead, src, g, strip, kernels) : nullptr;
            kernels.vertical(out, r0, r1, width, v, stream);
        }
    }
    kernels.finish();
}

const BilinearKernels kBilinear_C{"C", horizontal_C, vertical_C, finish_C, nullptr, nullptr,
                                     nullptr};

} // namespace framescaler
