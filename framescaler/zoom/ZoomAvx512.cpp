// AVX-512 bilinear kernels (byte and word lanes), compiled for AVX-512 function by function and
// only called after the CPU reported it. Twice the lanes of AVX2, and a two-register permute
// that picks from 32 source pixels at once, so reductions up to 4:1 need no gather.
#include "Zoom.h"

#if defined(__x86_64__)

// GCC 12's AVX-512 intrinsics start their results from an "undefined" register value, which
// its flow analysis reports as maybe-uninitialized once they are inlined.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>

#define FRAMESCALER_AVX512 __attribute__((target("avx512f,avx512bw,avx512vl")))

namespace framescaler {

namespace {

// (a << 8) + w * (b - a) in 16-bit lanes wraps to exactly a * (256 - w) + b * w (at most 65280).
FRAMESCALER_AVX512 inline __m512i blend16(__m512i a, __m512i b, __m512i w)
{
    const __m512i sum =
        _mm512_add_epi16(_mm512_slli_epi16(a, 8), _mm512_mullo_epi16(_mm512_sub_epi16(b, a), w));
    return _mm512_srli_epi16(sum, 8);
}

// A source row is read once per destination row and the rows of a reduction are not
// consecutive, so the hardware prefetcher starts late on each; asking a little ahead pays.
inline void prefetchAhead(const std::uint32_t* at) { _mm_prefetch(reinterpret_cast<const char*>(at) + 512, _MM_HINT_T0); }

FRAMESCALER_AVX512 inline __m512i lanePositions(std::int32_t start, std::int32_t step)
{
    const __m512i lanes = _mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    return _mm512_add_epi32(_mm512_set1_epi32(start), _mm512_mullo_epi32(lanes, _mm512_set1_epi32(step)));
}

// 16 outputs at a time while 16 steps span at most 32 * Tables - 1 source pixels (reductions
// below 2:1 with one pair of table registers, below 4:1 with two).
template <int Tables>
FRAMESCALER_AVX512 int horizontalSixteen(std::uint32_t* out, const std::uint8_t* srcRow, int i, int count,
                                         std::int32_t& position, std::int32_t step, std::uint32_t rowWidth)
{
    const __m512i zero = _mm512_setzero_si512();
    const __m512i one = _mm512_set1_epi32(1);
    const __m512i byteMask = _mm512_set1_epi32(255);
    // Each pixel's weight (low byte of its lane) over its four 16-bit channels, per 128-bit lane
    // as the byte unpacks below order the pixels.
    const __m512i spreadLow = _mm512_broadcast_i32x4(
        _mm_setr_epi8(0, -128, 0, -128, 0, -128, 0, -128, 4, -128, 4, -128, 4, -128, 4, -128));
    const __m512i spreadHigh = _mm512_broadcast_i32x4(
        _mm_setr_epi8(8, -128, 8, -128, 8, -128, 8, -128, 12, -128, 12, -128, 12, -128, 12, -128));
    __m512i pos = lanePositions(position, step);
    const __m512i advance = _mm512_set1_epi32(static_cast<int>(static_cast<std::uint32_t>(step) * 16u));
    for (; i + 16 <= count; i += 16) {
        const __m512i column = _mm512_srli_epi32(pos, 16);
        const auto first = static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm512_castsi512_si128(column)));
        if (first + 32 * Tables > rowWidth)
            break;
        const __m512i rel = _mm512_sub_epi32(column, _mm512_set1_epi32(static_cast<int>(first)));
        const __m512i relRight = _mm512_add_epi32(rel, one);
        const auto* at = reinterpret_cast<const std::uint32_t*>(srcRow) + first;
        prefetchAhead(at);
        const __m512i table0 = _mm512_loadu_si512(at);
        const __m512i table1 = _mm512_loadu_si512(at + 16);
        __m512i left = _mm512_permutex2var_epi32(table0, rel, table1);
        __m512i right = _mm512_permutex2var_epi32(table0, relRight, table1);
        if constexpr (Tables == 2) {
            // The permutes use the index modulo 32; indices from 32 on pick from the next pair.
            const __m512i table2 = _mm512_loadu_si512(at + 32);
            const __m512i table3 = _mm512_loadu_si512(at + 48);
            const __m512i thirtyOne = _mm512_set1_epi32(31);
            left = _mm512_mask_mov_epi32(left, _mm512_cmpgt_epi32_mask(rel, thirtyOne),
                                         _mm512_permutex2var_epi32(table2, rel, table3));
            right = _mm512_mask_mov_epi32(right, _mm512_cmpgt_epi32_mask(relRight, thirtyOne),
                                          _mm512_permutex2var_epi32(table2, relRight, table3));
        }
        const __m512i u = _mm512_and_si512(_mm512_srli_epi32(pos, 8), byteMask);
        const __m512i lo = blend16(_mm512_unpacklo_epi8(left, zero), _mm512_unpacklo_epi8(right, zero),
                                   _mm512_shuffle_epi8(u, spreadLow));
        const __m512i hi = blend16(_mm512_unpackhi_epi8(left, zero), _mm512_unpackhi_epi8(right, zero),
                                   _mm512_shuffle_epi8(u, spreadHigh));
        _mm512_storeu_si512(out + i, _mm512_packus_epi16(lo, hi));
        pos = _mm512_add_epi32(pos, advance);
    }
    position = _mm_cvtsi128_si32(_mm512_castsi512_si128(pos));
    return i;
}

// 8 outputs at a time while 8 steps span at most 31 source pixels (reductions below 4:1): one
// permute picks the left neighbours into the lower half and the right ones into the upper.
FRAMESCALER_AVX512 int horizontalEight(std::uint32_t* out, const std::uint8_t* srcRow, int i, int count,
                                       std::int32_t& position, std::int32_t step, std::uint32_t rowWidth)
{
    const __m256i lanes = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    __m256i pos = _mm256_add_epi32(_mm256_set1_epi32(position),
                                   _mm256_mullo_epi32(lanes, _mm256_set1_epi32(step)));
    const __m256i advance = _mm256_set1_epi32(static_cast<int>(static_cast<std::uint32_t>(step) * 8u));
    const __m256i byteMask = _mm256_set1_epi32(255);
    // Word 2k of the weights (pixel k's weight) into words 4k .. 4k + 3.
    const __m512i spread = _mm512_set_epi16(14, 14, 14, 14, 12, 12, 12, 12, 10, 10, 10, 10, 8, 8, 8, 8, 6, 6,
                                            6, 6, 4, 4, 4, 4, 2, 2, 2, 2, 0, 0, 0, 0);
    for (; i + 8 <= count; i += 8) {
        const __m256i column = _mm256_srli_epi32(pos, 16);
        const auto first = static_cast<std::uint32_t>(_mm256_cvtsi256_si32(column));
        if (first + 32 > rowWidth)
            break;
        const __m256i rel = _mm256_sub_epi32(column, _mm256_set1_epi32(static_cast<int>(first)));
        const __m512i both = _mm512_inserti64x4(_mm512_castsi256_si512(rel),
                                                _mm256_add_epi32(rel, _mm256_set1_epi32(1)), 1);
        const auto* at = reinterpret_cast<const std::uint32_t*>(srcRow) + first;
        prefetchAhead(at);
        const __m512i picked =
            _mm512_permutex2var_epi32(_mm512_loadu_si512(at), both, _mm512_loadu_si512(at + 16));
        const __m512i left = _mm512_cvtepu8_epi16(_mm512_castsi512_si256(picked));
        const __m512i right = _mm512_cvtepu8_epi16(_mm512_extracti64x4_epi64(picked, 1));
        const __m256i u = _mm256_and_si256(_mm256_srli_epi32(pos, 8), byteMask);
        const __m512i w = _mm512_permutexvar_epi16(spread, _mm512_castsi256_si512(u));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), _mm512_cvtepi16_epi8(blend16(left, right, w)));
        pos = _mm256_add_epi32(pos, advance);
    }
    position = _mm256_cvtsi256_si32(pos);
    return i;
}

FRAMESCALER_AVX512 void horizontal_AVX512(std::uint32_t* out, const std::uint8_t* srcRow, int rowWidth,
                                          int count, std::int32_t pos0, std::int32_t step)
{
    std::int32_t position = pos0;
    int i = 0;
    const auto width = static_cast<std::uint32_t>(rowWidth);
    const std::int64_t spanOfSixteen = ((std::int64_t{step} * 15) >> 16) + 2;
    const std::int64_t spanOfEight = ((std::int64_t{step} * 7) >> 16) + 2;
    if (spanOfSixteen <= 32)
        i = horizontalSixteen<1>(out, srcRow, i, count, position, step, width);
    else if (spanOfSixteen <= 64)
        i = horizontalSixteen<2>(out, srcRow, i, count, position, step, width);
    else if (spanOfEight <= 32)
        i = horizontalEight(out, srcRow, i, count, position, step, width);
    // Wider steps, and the last pixels whose loads would pass the row's end.
    for (; i < count; ++i) {
        const std::uint8_t* pair = srcRow + std::size_t(position >> 16) * 4;
        out[i] = blendBytes(loadPixel(pair), loadPixel(pair + 4), static_cast<std::uint32_t>((position >> 8) & 255));
        position += step;
    }
}

FRAMESCALER_AVX512 void vertical_AVX512(std::uint8_t* dst, const std::uint32_t* r0, const std::uint32_t* r1,
                                        int count, int v, bool stream)
{
    if (v == 0)
        r1 = r0; // weight 0 gives r0 exactly
    const auto weight = static_cast<std::uint32_t>(v);
    const __m512i zero = _mm512_setzero_si512();
    const __m512i w = _mm512_set1_epi16(static_cast<short>(v));
    const bool streaming = stream && (reinterpret_cast<std::uintptr_t>(dst) & 3) == 0;
    int i = 0;
    const int head = streaming ? headToAlignment(dst, count, 64) : 0;
    for (; i < head; ++i)
        _mm_stream_si32(reinterpret_cast<int*>(dst + std::size_t(i) * 4),
                        static_cast<int>(blendBytes(r0[i], r1[i], weight)));
    for (; i + 16 <= count; i += 16) {
        const __m512i a = _mm512_loadu_si512(r0 + i);
        const __m512i b = _mm512_loadu_si512(r1 + i);
        const __m512i lo = blend16(_mm512_unpacklo_epi8(a, zero), _mm512_unpacklo_epi8(b, zero), w);
        const __m512i hi = blend16(_mm512_unpackhi_epi8(a, zero), _mm512_unpackhi_epi8(b, zero), w);
        auto* out = reinterpret_cast<__m512i*>(dst + std::size_t(i) * 4);
        if (streaming)
            _mm512_stream_si512(out, _mm512_packus_epi16(lo, hi));
        else
            _mm512_storeu_si512(out, _mm512_packus_epi16(lo, hi));
    }
    for (; i < count; ++i) {
        const std::uint32_t pixel = blendBytes(r0[i], r1[i], weight);
        if (streaming)
            _mm_stream_si32(reinterpret_cast<int*>(dst + std::size_t(i) * 4), static_cast<int>(pixel));
        else
            storePixel(dst + std::size_t(i) * 4, pixel);
    }
}

void finish_AVX512() { _mm_sfence(); }

} // namespace

const BilinearKernels kBilinear_AVX512{"AVX-512", horizontal_AVX512, vertical_AVX512, finish_AVX512};

} // namespace framescaler

#endif
