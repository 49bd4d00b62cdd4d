// Scaling of 4-byte-pixel pictures: the row loops shared by every instruction set, and the
// per-row kernels each instruction set provides. The exported C routines validate their
// arguments and call into here with the kernels the CPU supports.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace framescaler {

// A validated picture: width and height above 0, stride any value (negative walks upward).
struct SourcePicture {
    const std::uint8_t* pixels;
    std::ptrdiff_t stride;
    int width;
    int height;
    const std::uint8_t* row(std::int64_t y) const { return pixels + y * stride; }
};

struct DestPicture {
    std::uint8_t* pixels;
    std::ptrdiff_t stride;
    int width;
    int height;
    std::uint8_t* row(std::int64_t y) const { return pixels + y * stride; }
};

inline std::uint32_t loadPixel(const std::uint8_t* p)
{
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

inline void storePixel(std::uint8_t* p, std::uint32_t v) { std::memcpy(p, &v, 4); }

// Per byte: (a * (256 - weight) + b * weight) >> 8, weight 0..255.
inline std::uint32_t blendBytes(std::uint32_t a, std::uint32_t b, std::uint32_t weight)
{
    std::uint32_t result = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        const std::uint32_t ca = (a >> shift) & 255u;
        const std::uint32_t cb = (b >> shift) & 255u;
        result |= ((ca * (256u - weight) + cb * weight) >> 8) << shift;
    }
    return result;
}

// Pixels to write one by one before dst reaches a multiple of `alignment` (a power of two),
// or 0 when the row is not even pixel-aligned (it is then written with plain stores).
inline int headToAlignment(const std::uint8_t* dst, int count, unsigned alignment)
{
    const auto address = reinterpret_cast<std::uintptr_t>(dst);
    if ((address & 3) != 0)
        return 0;
    const auto head = static_cast<int>(((alignment - (address & (alignment - 1))) & (alignment - 1)) / 4);
    return head < count ? head : count;
}

// 16.16 step along one axis: the exact ratio lengthened by one unit.
inline std::int32_t zoomStep(int source, int destination)
{
    return static_cast<std::int32_t>((std::int64_t{source} << 16) / destination + 1);
}

struct NearestKernels {
    const char* name;
    // Writes `width` pixels: pixel x copies source column min((x * stepX) >> 16, lastColumn),
    // the position accumulated in 32 bits.
    void (*row)(std::uint8_t* dst, const std::uint8_t* srcRow, int width, std::uint32_t stepX,
                std::uint32_t lastColumn);
    // Makes the row writes visible to other threads (after cache-bypassing stores).
    void (*finish)();
};

// Columns are scaled in strips so that the per-strip buffers fit on the stack: no allocation per
// call, and a full HD picture is still one strip.
inline constexpr int kStripPixels = 2048;

// What a kernel set works out once per strip for the horizontal blend of every source row: the
// positions along a row are the same on every row. Block b holds outputs 16b to 16b + 15 and
// reads 32-pixel windows: outputs 0-7 the one at first(b) = min((start + 16b * step) >> 16,
// maxFirst), outputs 8-15 the one 16 * windowStep pixels further on. Each 16-bit word of `picks`
// belongs to one output channel: the channel's byte of the left neighbour in the window, then of
// the right one; the same word of `weights` holds 255 - u and u.
struct alignas(64) HorizontalPlan {
    std::uint8_t picks[kStripPixels / 16][2][64];
    std::uint8_t weights[kStripPixels / 16][2][64];
    // Whether block b weighs differently from block b - 1.
    bool newWeights[kStripPixels / 16];
    int blocks;
    std::int32_t start;
    std::int32_t step;
    int maxFirst;
    int windowStep;
    // Outputs in the last block, 1 to 16.
    int lastOutputs;
    // The leading blocks that pick as block 0 does (all but the last when reducing by a whole
    // factor): their picks stay in registers.
    int samePicksBlocks;
    // The outputs after the blocks, blended by the kernel set's plain horizontal kernel.
    int rowWidth;
    int restCount;
    std::int32_t restPos0;
};

// Two source rows blended together, and the rows the next call will read in their place (each
// may be null).
struct PlannedRows {
    const std::uint8_t* row[2];
    const std::uint8_t* next[2];
};

struct BilinearKernels {
    const char* name;
    // Horizontal blend of `count` pixels whose two neighbours both lie inside the row of
    // rowWidth pixels: pixel i samples at pos0 + i * step (16.16, pos0 >= 0); out gets
    // (P0 * (256 - u) + P1 * u) >> 8 per byte.
    void (*horizontal)(std::uint32_t* out, const std::uint8_t* srcRow, int rowWidth, int count,
                       std::int32_t pos0, std::int32_t step);
    // Vertical blend of two horizontally blended rows: (r0 * (256 - v) + r1 * v) >> 8 per byte;
    // v = 0 copies r0 (r1 is not read then). `stream` asks for cache-bypassing stores.
    void (*vertical)(std::uint8_t* dst, const std::uint32_t* r0, const std::uint32_t* r1, int count,
                     int v, bool stream);
    void (*finish)();
    // Optional, all or none: the horizontal blend with its per-column work planned once per
    // strip; the planned kernels also ask for the same columns of the source rows the following
    // call will blend. plannedPair blends two rows across and then down by v (1..255) into dst.
    void (*plan)(HorizontalPlan& plan, int rowWidth, int count, std::int32_t pos0, std::int32_t step);
    void (*plannedHorizontal)(std::uint32_t* out, const std::uint8_t* srcRow, const std::uint8_t* nextRow,
                              const HorizontalPlan& plan);
    void (*plannedPair)(std::uint8_t* dst, const PlannedRows& rows, int v, const HorizontalPlan& plan);
};

void zoomNearest(const DestPicture& dst, const SourcePicture& src, const NearestKernels& kernels);
void zoomBilinear(const DestPicture& dst, const SourcePicture& src, const BilinearKernels& kernels);

// Plain C++ kernels: the reference every faster set must match byte for byte.
extern const NearestKernels kNearest_C;
extern const BilinearKernels kBilinear_C;
#if defined(__x86_64__) || defined(__i386__)
extern const NearestKernels kNearest_SSE2;
extern const BilinearKernels kBilinear_SSE2;
extern const NearestKernels kNearest_AVX2;
extern const BilinearKernels kBilinear_AVX2;
extern const BilinearKernels kBilinear_AVX512;
extern const BilinearKernels kBilinear_AVX512_VBMI;
#endif

// Every kernel set this CPU can run, fastest first.
struct KernelChoice {
    const NearestKernels* nearest;
    const BilinearKernels* bilinear;
};
const KernelChoice& bestKernels();
bool cpuHasAvx2();
// AVX-512 with byte and word lanes on 128/256/512-bit registers.
bool cpuHasAvx512();
// The AVX-512 byte permutes (VBMI) on top of that.
bool cpuHasAvx512Vbmi();

// Destinations at least this large are written with cache-bypassing stores by the bilinear
// routine: they would only evict the source from the cache.
inline constexpr std::int64_t kStreamingThresholdBytes = std::int64_t{4} << 20;

} // namespace framescaler
