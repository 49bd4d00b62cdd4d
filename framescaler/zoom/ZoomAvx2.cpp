// AVX2 kernels, compiled for AVX2 function by function so that the library still runs on any
// x86-64 CPU; they are only called after the CPU reported AVX2.
#include "Zoom.h"

#if defined(__x86_64__) || defined(__i386__)

#include <algorithm>
#include <immintrin.h>

#define FRAMESCALER_AVX2 __attribute__((target("avx2")))

namespace framescaler {

namespace {

FRAMESCALER_AVX2 inline __m256i lanePositions(std::uint32_t start, std::uint32_t step)
{
    return _mm256_add_epi32(_mm256_set1_epi32(static_cast<int>(start)),
                            _mm256_mullo_epi32(_mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7),
                                               _mm256_set1_epi32(static_cast<int>(step))));
}

// Neighbouring output pixels sample source columns close together: 8 of them span at most
// ((7 * step) >> 16) + 2 columns, so they can be picked with in-register permutes from a few
// consecutive 8-pixel loads instead of a gather. Returns how many loads that takes.
inline int windowsFor(std::uint32_t step)
{
    return static_cast<int>(((std::uint64_t{step} * 7 >> 16) + 1) / 8 + 1);
}

// src[rel[i]] for rel in [0, 8 * Windows), from Windows consecutive unaligned 8-pixel loads.
template <int Windows>
FRAMESCALER_AVX2 inline __m256i pickFromWindows(const std::uint8_t* at, __m256i rel)
{
    __m256i picked = _mm256_permutevar8x32_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(at)), rel);
    if constexpr (Windows >= 2) {
        const __m256i next = _mm256_permutevar8x32_epi32(
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + 32)), rel);
        picked = _mm256_blendv_epi8(picked, next, _mm256_cmpgt_epi32(rel, _mm256_set1_epi32(7)));
    }
    if constexpr (Windows >= 3) {
        const __m256i next = _mm256_permutevar8x32_epi32(
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + 64)), rel);
        picked = _mm256_blendv_epi8(picked, next, _mm256_cmpgt_epi32(rel, _mm256_set1_epi32(15)));
    }
    return picked;
}

FRAMESCALER_AVX2 inline __m256i broadcastFirst(__m256i v)
{
    return _mm256_broadcastd_epi32(_mm256_castsi256_si128(v));
}

FRAMESCALER_AVX2 inline void storeEight(std::uint8_t* at, __m256i pixels, bool streaming)
{
    if (streaming)
        _mm256_stream_si256(reinterpret_cast<__m256i*>(at), pixels);
    else
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(at), pixels);
}

// Groups of 8 by permutes while the loads stay inside the row; returns the pixels done.
template <int Windows>
FRAMESCALER_AVX2 int nearestWindows(std::uint8_t* dst, const std::uint8_t* srcRow, int x, int width,
                                    __m256i& position, __m256i advance, std::uint32_t rowWidth,
                                    bool streaming)
{
    for (; x + 8 <= width; x += 8) {
        const __m256i column = _mm256_srli_epi32(position, 16);
        const auto first = static_cast<std::uint32_t>(_mm256_cvtsi256_si32(column));
        if (first + 8 * Windows > rowWidth)
            break;
        const __m256i pixels = pickFromWindows<Windows>(srcRow + std::size_t(first) * 4,
                                                        _mm256_sub_epi32(column, broadcastFirst(column)));
        storeEight(dst + std::size_t(x) * 4, pixels, streaming);
        position = _mm256_add_epi32(position, advance);
    }
    return x;
}

FRAMESCALER_AVX2 void nearestRow_AVX2(std::uint8_t* dst, const std::uint8_t* srcRow, int width,
                                      std::uint32_t stepX, std::uint32_t lastColumn)
{
    const bool streaming = (reinterpret_cast<std::uintptr_t>(dst) & 3) == 0;
    std::uint32_t srcX = 0;
    int x = 0;
    const int head = streaming ? headToAlignment(dst, width, 32) : 0;
    for (; x < head; ++x) {
        const std::uint32_t column = std::min(srcX >> 16, lastColumn);
        _mm_stream_si32(reinterpret_cast<int*>(dst + std::size_t(x) * 4),
                        static_cast<int>(loadPixel(srcRow + std::size_t(column) * 4)));
        srcX += stepX;
    }
    __m256i position = lanePositions(srcX, stepX);
    const __m256i advance = _mm256_set1_epi32(static_cast<int>(stepX * 8u));
    switch (windowsFor(stepX)) {
    case 1: x = nearestWindows<1>(dst, srcRow, x, width, position, advance, lastColumn + 1, streaming); break;
    case 2: x = nearestWindows<2>(dst, srcRow, x, width, position, advance, lastColumn + 1, streaming); break;
    case 3: x = nearestWindows<3>(dst, srcRow, x, width, position, advance, lastColumn + 1, streaming); break;
    default: break;
    }
    // Wide steps, and the last groups whose loads would pass the row's end.
    const __m256i last = _mm256_set1_epi32(static_cast<int>(lastColumn));
    const auto* base = reinterpret_cast<const int*>(srcRow);
    for (; x + 8 <= width; x += 8) {
        const __m256i column = _mm256_min_epu32(_mm256_srli_epi32(position, 16), last);
        storeEight(dst + std::size_t(x) * 4, _mm256_i32gather_epi32(base, column, 4), streaming);
        position = _mm256_add_epi32(position, advance);
    }
    srcX = static_cast<std::uint32_t>(_mm256_cvtsi256_si32(position));
    for (; x < width; ++x) {
        const std::uint32_t column = std::min(srcX >> 16, lastColumn);
        const std::uint32_t pixel = loadPixel(srcRow + std::size_t(column) * 4);
        if (streaming)
            _mm_stream_si32(reinterpret_cast<int*>(dst + std::size_t(x) * 4), static_cast<int>(pixel));
        else
            storePixel(dst + std::size_t(x) * 4, pixel);
        srcX += stepX;
    }
}

void finish_AVX2() { _mm_sfence(); }

// (a << 8) + w * (b - a) in 16-bit lanes wraps to exactly a * (256 - w) + b * w (at most 65280).
FRAMESCALER_AVX2 inline __m256i blend16(__m256i a, __m256i b, __m256i w)
{
    const __m256i sum =
        _mm256_add_epi16(_mm256_slli_epi16(a, 8), _mm256_mullo_epi16(_mm256_sub_epi16(b, a), w));
    return _mm256_srli_epi16(sum, 8);
}

// Blends 8 pixels given their left and right neighbours, u in the low byte of each lane.
FRAMESCALER_AVX2 inline __m256i blendEight(__m256i left, __m256i right, __m256i u)
{
    const __m256i zero = _mm256_setzero_si256();
    // Spread each pixel's weight over its four 16-bit channels.
    const __m256i spreadLow = _mm256_setr_epi8(0, -128, 0, -128, 0, -128, 0, -128, 4, -128, 4, -128, 4,
                                               -128, 4, -128, 0, -128, 0, -128, 0, -128, 0, -128, 4,
                                               -128, 4, -128, 4, -128, 4, -128);
    const __m256i spreadHigh = _mm256_setr_epi8(8, -128, 8, -128, 8, -128, 8, -128, 12, -128, 12,
                                                -128, 12, -128, 12, -128, 8, -128, 8, -128, 8, -128,
                                                8, -128, 12, -128, 12, -128, 12, -128, 12, -128);
    const __m256i lo = blend16(_mm256_unpacklo_epi8(left, zero), _mm256_unpacklo_epi8(right, zero),
                               _mm256_shuffle_epi8(u, spreadLow));
    const __m256i hi = blend16(_mm256_unpackhi_epi8(left, zero), _mm256_unpackhi_epi8(right, zero),
                               _mm256_shuffle_epi8(u, spreadHigh));
    return _mm256_packus_epi16(lo, hi);
}

template <int Windows>
FRAMESCALER_AVX2 int horizontalWindows(std::uint32_t* out, const std::uint8_t* srcRow, int i, int count,
                                       __m256i& position, __m256i advance, std::uint32_t rowWidth)
{
    const __m256i byteMask = _mm256_set1_epi32(255);
    for (; i + 8 <= count; i += 8) {
        const __m256i column = _mm256_srli_epi32(position, 16);
        const auto first = static_cast<std::uint32_t>(_mm256_cvtsi256_si32(column));
        if (first + 1 + 8 * Windows > rowWidth)
            break;
        const __m256i rel = _mm256_sub_epi32(column, broadcastFirst(column));
        const std::uint8_t* at = srcRow + std::size_t(first) * 4;
        // Rows of a reduction are not consecutive: the hardware prefetcher starts late on each.
        _mm_prefetch(reinterpret_cast<const char*>(at) + 512, _MM_HINT_T0);
        const __m256i left = pickFromWindows<Windows>(at, rel);
        const __m256i right = pickFromWindows<Windows>(at + 4, rel);
        const __m256i u = _mm256_and_si256(_mm256_srli_epi32(position, 8), byteMask);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), blendEight(left, right, u));
        position = _mm256_add_epi32(position, advance);
    }
    return i;
}

FRAMESCALER_AVX2 void horizontal_AVX2(std::uint32_t* out, const std::uint8_t* srcRow, int rowWidth,
                                      int count, std::int32_t pos0, std::int32_t step)
{
    // Gather pixel pairs as (0,1,4,5) and (2,3,6,7) so that the pairs split into left and
    // right neighbours in pixel order.
    const __m256i gatherOrder = _mm256_setr_epi32(0, 1, 4, 5, 2, 3, 6, 7);
    const __m256i byteMask = _mm256_set1_epi32(255);
    const auto* base = reinterpret_cast<const long long*>(srcRow);
    __m256i position = lanePositions(static_cast<std::uint32_t>(pos0), static_cast<std::uint32_t>(step));
    const __m256i advance = _mm256_set1_epi32(static_cast<int>(static_cast<std::uint32_t>(step) * 8u));
    int i = 0;
    const auto width = static_cast<std::uint32_t>(rowWidth);
    switch (windowsFor(static_cast<std::uint32_t>(step))) {
    case 1: i = horizontalWindows<1>(out, srcRow, i, count, position, advance, width); break;
    case 2: i = horizontalWindows<2>(out, srcRow, i, count, position, advance, width); break;
    case 3: i = horizontalWindows<3>(out, srcRow, i, count, position, advance, width); break;
    default: break;
    }
    for (; i + 8 <= count; i += 8) {
        const __m256i column =
            _mm256_permutevar8x32_epi32(_mm256_srli_epi32(position, 16), gatherOrder);
        const __m256i pairsA = _mm256_shuffle_epi32(
            _mm256_i32gather_epi64(base, _mm256_castsi256_si128(column), 4), _MM_SHUFFLE(3, 1, 2, 0));
        const __m256i pairsB = _mm256_shuffle_epi32(
            _mm256_i32gather_epi64(base, _mm256_extracti128_si256(column, 1), 4), _MM_SHUFFLE(3, 1, 2, 0));
        const __m256i u = _mm256_and_si256(_mm256_srli_epi32(position, 8), byteMask);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i),
                            blendEight(_mm256_unpacklo_epi64(pairsA, pairsB),
                                       _mm256_unpackhi_epi64(pairsA, pairsB), u));
        position = _mm256_add_epi32(position, advance);
    }
    std::int32_t scalarPosition = _mm256_cvtsi256_si32(position);
    for (; i < count; ++i) {
        const std::uint8_t* pair = srcRow + std::size_t(scalarPosition >> 16) * 4;
        out[i] = blendBytes(loadPixel(pair), loadPixel(pair + 4),
                            static_cast<std::uint32_t>((scalarPosition >> 8) & 255));
        scalarPosition += step;
    }
}

FRAMESCALER_AVX2 void vertical_AVX2(std::uint8_t* dst, const std::uint32_t* r0,
                                    const std::uint32_t* r1, int count, int v, bool stream)
{
    if (v == 0)
        r1 = r0; // weight 0 gives r0 exactly
    const auto weight = static_cast<std::uint32_t>(v);
    const __m256i zero = _mm256_setzero_si256();
    const __m256i w = _mm256_set1_epi16(static_cast<short>(v));
    const bool streaming = stream && (reinterpret_cast<std::uintptr_t>(dst) & 3) == 0;
    int i = 0;
    const int head = streaming ? headToAlignment(dst, count, 32) : 0;
    for (; i < head; ++i)
        _mm_stream_si32(reinterpret_cast<int*>(dst + std::size_t(i) * 4),
                        static_cast<int>(blendBytes(r0[i], r1[i], weight)));
    for (; i + 8 <= count; i += 8) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(r0 + i));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(r1 + i));
        const __m256i lo = blend16(_mm256_unpacklo_epi8(a, zero), _mm256_unpacklo_epi8(b, zero), w);
        const __m256i hi = blend16(_mm256_unpackhi_epi8(a, zero), _mm256_unpackhi_epi8(b, zero), w);
        auto* out = reinterpret_cast<__m256i*>(dst + std::size_t(i) * 4);
        if (streaming)
            _mm256_stream_si256(out, _mm256_packus_epi16(lo, hi));
        else
            _mm256_storeu_si256(out, _mm256_packus_epi16(lo, hi));
    }
    for (; i < count; ++i) {
        const std::uint32_t pixel = blendBytes(r0[i], r1[i], weight);
        if (streaming)
            _mm_stream_si32(reinterpret_cast<int*>(dst + std::size_t(i) * 4), static_cast<int>(pixel));
        else
            storePixel(dst + std::size_t(i) * 4, pixel);
    }
}

} // namespace

const NearestKernels kNearest_AVX2{"AVX2", nearestRow_AVX2, finish_AVX2};
const BilinearKernels kBilinear_AVX2{"AVX2", horizontal_AVX2, vertical_AVX2, finish_AVX2, nullptr, nullptr,
                                     nullptr};

} // namespace framescaler

#endif
