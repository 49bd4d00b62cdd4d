// AVX-512 bilinear kernels (byte and word lanes), compiled for AVX-512 function by function and
// only called after the CPU reported it. Twice the lanes of AVX2, and a two-register permute
// that picks from 32 source pixels at once, so reductions up to 4:1 need no gather.
#include "Zoom.h"

#if defined(__x86_64__)

// GCC 12's AVX-512 intrinsics start their results from an "undefined" register value, which
// its flow analysis reports as maybe-uninitialized once they are inlined.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <algorithm>
#include <cstdint>
#include <immintrin.h>

#define FRAMESCALER_AVX512 __attribute__((target("avx512f,avx512bw,avx512vl")))
#define FRAMESCALER_AVX512_VBMI __attribute__((target("avx512f,avx512bw,avx512vl,avx512vbmi")))

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

// Each word of `pairs` holds one channel's left and right neighbour bytes (a, b), the same word of
// `weights` 255 - u and u. With the bytes offset to signed, (255 - u) * (a - 128) + u * (b - 128)
// fits a signed word, and adding a + 255 * 128 back gives exactly a * (256 - u) + b * u: the
// blended byte in each word's high half.
FRAMESCALER_AVX512 inline __m512i blendPairs(__m512i pairs, __m512i weights)
{
    const __m512i sum = _mm512_maddubs_epi16(weights, _mm512_xor_si512(pairs, _mm512_set1_epi8(-128)));
    const __m512i left = _mm512_and_si512(pairs, _mm512_set1_epi16(255));
    return _mm512_add_epi16(_mm512_add_epi16(sum, left), _mm512_set1_epi16(255 * 128));
}

// 8 outputs at a time for any step, each output's two neighbours gathered as one 8-byte pair.
FRAMESCALER_AVX512 int horizontalGathered(std::uint32_t* out, const std::uint8_t* srcRow, int i, int count,
                                          std::int32_t& position, std::int32_t step)
{
    const __m256i lanes = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    __m256i pos = _mm256_add_epi32(_mm256_set1_epi32(position), _mm256_mullo_epi32(lanes, _mm256_set1_epi32(step)));
    const __m256i advance = _mm256_set1_epi32(static_cast<int>(static_cast<std::uint32_t>(step) * 8u));
    // Per output: the channels of its left and right neighbour side by side, and the weight u
    // spread over the eight bytes, to become (255 - u, u) in every channel's word.
    const __m512i interleave =
        _mm512_broadcast_i32x4(_mm_setr_epi8(0, 4, 1, 5, 2, 6, 3, 7, 8, 12, 9, 13, 10, 14, 11, 15));
    const __m512i spreadWeight = _mm512_broadcast_i32x4(_mm_setr_epi8(0, 0, 0, 0, 0, 0, 0, 0, 8, 8, 8, 8, 8, 8, 8, 8));
    const __m512i complementEven = _mm512_set1_epi16(255);
    for (; i + 8 <= count; i += 8) {
        const __m512i pairs = _mm512_shuffle_epi8(
            _mm512_i32gather_epi64(_mm256_srli_epi32(pos, 16), reinterpret_cast<const long long*>(srcRow), 4),
            interleave);
        const __m512i u = _mm512_cvtepu32_epi64(_mm256_and_si256(_mm256_srli_epi32(pos, 8), _mm256_set1_epi32(255)));
        const __m512i weights = _mm512_xor_si512(_mm512_shuffle_epi8(u, spreadWeight), complementEven);
        const __m512i blended = blendPairs(pairs, weights);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), _mm512_cvtepi16_epi8(_mm512_srli_epi16(blended, 8)));
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
    // Pixels from the first output's left neighbour to the last one's right neighbour: the
    // fractions carried along add one column to the whole steps.
    const std::int64_t spanOfSixteen = ((std::int64_t{step} * 15) >> 16) + 3;
    const std::int64_t spanOfEight = ((std::int64_t{step} * 7) >> 16) + 3;
    if (spanOfSixteen <= 32)
        i = horizontalSixteen<1>(out, srcRow, i, count, position, step, width);
    else if (spanOfSixteen <= 64)
        i = horizontalSixteen<2>(out, srcRow, i, count, position, step, width);
    else if (spanOfEight <= 32)
        i = horizontalEight(out, srcRow, i, count, position, step, width);
    // Wider steps, and the last pixels whose window loads would pass the row's end.
    i = horizontalGathered(out, srcRow, i, count, position, step);
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

// A window is two 64-byte loads: 32 pixels, the last output's right neighbour included.
constexpr std::int64_t kWindowPixels = 32;

// Fills block b of the plan with its first `outputs` outputs (the rest pick byte 0 with weight 0);
// false when a window would not hold its outputs' neighbours. The windows of the row's last
// blocks are moved back to end with the row.
bool planBlock(HorizontalPlan& plan, int b, int outputs)
{
    const std::int64_t start = plan.start + std::int64_t{b} * 16 * plan.step;
    const std::int64_t first = std::min<std::int64_t>(start >> 16, plan.maxFirst);
    if (first < 0)
        return false;
    std::memset(plan.picks[b], 0, sizeof plan.picks[b]);
    std::memset(plan.weights[b], 0, sizeof plan.weights[b]);
    for (int k = 0; k < outputs; ++k) {
        const std::int64_t position = start + std::int64_t{k} * plan.step;
        const int group = k / 8;
        const std::int64_t column = (position >> 16) - first - (group == 0 ? 0 : 16 * plan.windowStep);
        if (column < 0 || column + 1 >= kWindowPixels)
            return false;
        const auto u = static_cast<int>((position >> 8) & 255);
        std::uint8_t* picks = plan.picks[b][group] + 8 * (k % 8);
        std::uint8_t* weights = plan.weights[b][group] + 8 * (k % 8);
        for (int c = 0; c < 4; ++c) {
            picks[2 * c] = static_cast<std::uint8_t>(column * 4 + c);
            picks[2 * c + 1] = static_cast<std::uint8_t>(column * 4 + 4 + c);
            weights[2 * c] = static_cast<std::uint8_t>(255 - u);
            weights[2 * c + 1] = static_cast<std::uint8_t>(u);
        }
    }
    return true;
}

void plan_AVX512_VBMI(HorizontalPlan& plan, int rowWidth, int count, std::int32_t pos0, std::int32_t step)
{
    // Outputs 8 apart lie 8 * step apart in the source: the second window starts on the 16-pixel
    // boundary at or before that.
    plan.windowStep = static_cast<int>(std::min<std::int64_t>((std::int64_t{step} * 8 >> 16) / 16, 2));
    plan.start = pos0;
    plan.step = step;
    plan.maxFirst = rowWidth - static_cast<int>(kWindowPixels) - 16 * plan.windowStep;
    plan.samePicksBlocks = 0;
    int blocks = 0;
    int planned = 0;
    for (; planned < count; ++blocks) {
        const int outputs = std::min(16, count - planned);
        if (!planBlock(plan, blocks, outputs))
            break;
        const bool samePicks = std::memcmp(plan.picks[blocks], plan.picks[0], sizeof plan.picks[0]) == 0;
        if (samePicks && plan.samePicksBlocks == blocks) {
            ++plan.samePicksBlocks;
        } else if (step < 2 * 65536 && planned + outputs < count) {
            // Picks loaded per block only beat the plain kernel where it needs more than one table.
            blocks = planned = 0;
            break;
        }
        plan.newWeights[blocks] =
            blocks == 0 || std::memcmp(plan.weights[blocks], plan.weights[blocks - 1], sizeof plan.weights[0]) != 0;
        plan.lastOutputs = outputs;
        planned += outputs;
    }
    plan.blocks = blocks;
    plan.rowWidth = rowWidth;
    plan.restCount = count - planned;
    plan.restPos0 = static_cast<std::int32_t>(pos0 + std::int64_t{planned} * step);
}

// Eight outputs as 16-bit channels scaled by 256, picked from a window.
FRAMESCALER_AVX512_VBMI inline __m512i blendGroup(__m512i lower, __m512i upper, __m512i picks, __m512i weights)
{
    return blendPairs(_mm512_permutex2var_epi8(lower, picks, upper), weights);
}

// A block's picks and weights, for outputs 0-7 and 8-15.
struct BlockCoefficients {
    __m512i picks[2];
    __m512i weights[2];
};

struct BlendedBlock {
    __m512i low;  // outputs 0-7
    __m512i high; // outputs 8-15
};

template <int WindowStep>
FRAMESCALER_AVX512_VBMI inline BlendedBlock blendBlock(const std::uint8_t* window, const BlockCoefficients& c)
{
    const __m512i chunk0 = _mm512_loadu_si512(window);
    const __m512i chunk1 = _mm512_loadu_si512(window + 64);
    const __m512i low = blendGroup(chunk0, chunk1, c.picks[0], c.weights[0]);
    if constexpr (WindowStep == 0)
        return {low, blendGroup(chunk0, chunk1, c.picks[1], c.weights[1])};
    const __m512i chunk2 = _mm512_loadu_si512(window + 128);
    if constexpr (WindowStep == 1)
        return {low, blendGroup(chunk1, chunk2, c.picks[1], c.weights[1])};
    return {low, blendGroup(chunk2, _mm512_loadu_si512(window + 192), c.picks[1], c.weights[1])};
}

// The high byte of every word of a, then of b: 16 blended pixels in order.
FRAMESCALER_AVX512_VBMI inline __m512i highBytes(__m512i a, __m512i b)
{
    const __m512i odd = _mm512_set_epi8(127, 125, 123, 121, 119, 117, 115, 113, 111, 109, 107, 105, 103, 101, 99,
                                        97, 95, 93, 91, 89, 87, 85, 83, 81, 79, 77, 75, 73, 71, 69, 67, 65, 63,
                                        61, 59, 57, 55, 53, 51, 49, 47, 45, 43, 41, 39, 37, 35, 33, 31, 29, 27,
                                        25, 23, 21, 19, 17, 15, 13, 11, 9, 7, 5, 3, 1);
    return _mm512_permutex2var_epi8(a, odd, b);
}

// Two across-blended groups (the byte in each word's high half) blended down by v, the result
// again in the high halves: (top << 8) + v * (bottom - top) wraps to top * (256 - v) + bottom * v.
FRAMESCALER_AVX512_VBMI inline __m512i blendDown(__m512i top, __m512i bottom, __m512i v)
{
    const __m512i difference = _mm512_sub_epi16(_mm512_srli_epi16(bottom, 8), _mm512_srli_epi16(top, 8));
    return _mm512_add_epi16(_mm512_and_si512(top, _mm512_set1_epi16(-256)), _mm512_mullo_epi16(difference, v));
}

// Byte offset in the row of the first window of the block whose first output samples at position.
inline std::size_t windowOffset(std::int64_t position, const HorizontalPlan& plan)
{
    return static_cast<std::size_t>(std::min<std::int64_t>(position >> 16, plan.maxFirst)) * 4;
}

// The rows of a reduction are not consecutive, so the hardware prefetcher meets each one cold;
// asking for the next row's lines while this one is blended hides that.
class NextRowPrefetch {
public:
    // Without a row nothing is asked for: the offset starts past any end.
    NextRowPrefetch(const std::uint8_t* row, const HorizontalPlan& plan)
        : row_(row), done_(row != nullptr ? windowOffset(plan.start, plan) & ~std::size_t{63} : SIZE_MAX)
    {
    }

    // Asks for the lines up to byte offset `end` from where the last call stopped.
    void upTo(std::size_t end)
    {
        for (; done_ < end; done_ += 64)
            _mm_prefetch(reinterpret_cast<const char*>(row_ + done_), _MM_HINT_T0);
    }

private:
    const std::uint8_t* row_;
    std::size_t done_;
};

FRAMESCALER_AVX512_VBMI inline void loadPicks(BlockCoefficients& c, const HorizontalPlan& plan, int b)
{
    c.picks[0] = _mm512_load_si512(plan.picks[b][0]);
    c.picks[1] = _mm512_load_si512(plan.picks[b][1]);
}

FRAMESCALER_AVX512_VBMI inline void loadWeights(BlockCoefficients& c, const HorizontalPlan& plan, int b)
{
    c.weights[0] = _mm512_load_si512(plan.weights[b][0]);
    c.weights[1] = _mm512_load_si512(plan.weights[b][1]);
}

// Runs `blend(offset, coefficients)` for every block of the plan, offset being its window's byte
// offset in the row, and stores its 16 pixels at out + 64 * b; the last block's pixels past the
// plan's outputs are not written. While blocks pick alike their picks stay in registers, and
// weights are loaded only where they change. (Window offsets are worked out here rather than
// loaded: a load that an address depends on slows the loop down.)
template <typename Blend>
FRAMESCALER_AVX512_VBMI inline void forEachBlock(std::uint8_t* out, const HorizontalPlan& plan, Blend&& blend)
{
    BlockCoefficients c;
    loadPicks(c, plan, 0);
    loadWeights(c, plan, 0);
    // Kept in registers: the stores to out could alias the plan as far as the compiler knows.
    const int blocks = plan.blocks;
    const int whole = plan.lastOutputs == 16 ? blocks : blocks - 1;
    const int samePicks = std::min(plan.samePicksBlocks, whole);
    const std::int64_t maxFirst = plan.maxFirst;
    const std::int64_t blockStep = std::int64_t{plan.step} * 16;
    const auto offsetAt = [maxFirst](std::int64_t position) {
        return static_cast<std::size_t>(std::min(position >> 16, maxFirst)) * 4;
    };
    std::int64_t position = plan.start;
    int b = 0;
    for (; b < samePicks; ++b, position += blockStep) {
        if (plan.newWeights[b])
            loadWeights(c, plan, b);
        _mm512_storeu_si512(out + std::size_t(b) * 64, blend(offsetAt(position), c));
    }
    for (; b < whole; ++b, position += blockStep) {
        loadPicks(c, plan, b);
        loadWeights(c, plan, b);
        _mm512_storeu_si512(out + std::size_t(b) * 64, blend(offsetAt(position), c));
    }
    if (b < blocks) {
        loadPicks(c, plan, b);
        loadWeights(c, plan, b);
        _mm512_mask_storeu_epi32(out + std::size_t(b) * 64, static_cast<__mmask16>((1u << plan.lastOutputs) - 1),
                                 blend(offsetAt(position), c));
    }
}

// One row's blocks blended across. (Function objects rather than lambdas: a lambda would not
// take its function's target attribute.)
template <int WindowStep>
struct AcrossBlend {
    const std::uint8_t* row;
    NextRowPrefetch prefetch;

    FRAMESCALER_AVX512_VBMI __m512i operator()(std::size_t offset, const BlockCoefficients& c)
    {
        prefetch.upTo(offset + 64 * (2 + WindowStep));
        const BlendedBlock block = blendBlock<WindowStep>(row + offset, c);
        return highBytes(block.low, block.high);
    }
};

// Two rows' blocks blended across, then down by the weight v.
template <int WindowStep>
struct AcrossAndDownBlend {
    const PlannedRows& rows;
    __m512i weight;
    NextRowPrefetch prefetch[2];

    FRAMESCALER_AVX512_VBMI __m512i operator()(std::size_t offset, const BlockCoefficients& c)
    {
        prefetch[0].upTo(offset + 64 * (2 + WindowStep));
        prefetch[1].upTo(offset + 64 * (2 + WindowStep));
        const BlendedBlock top = blendBlock<WindowStep>(rows.row[0] + offset, c);
        const BlendedBlock bottom = blendBlock<WindowStep>(rows.row[1] + offset, c);
        return highBytes(blendDown(top.low, bottom.low, weight), blendDown(top.high, bottom.high, weight));
    }
};

template <int WindowStep>
FRAMESCALER_AVX512_VBMI void horizontalBlocks(std::uint32_t* out, const std::uint8_t* srcRow,
                                              const std::uint8_t* nextRow, const HorizontalPlan& plan)
{
    forEachBlock(reinterpret_cast<std::uint8_t*>(out), plan,
                 AcrossBlend<WindowStep>{srcRow, NextRowPrefetch(nextRow, plan)});
}

template <int WindowStep>
FRAMESCALER_AVX512_VBMI void pairBlocks(std::uint8_t* dst, const PlannedRows& rows, int v,
                                        const HorizontalPlan& plan)
{
    const __m512i weight = _mm512_set1_epi16(static_cast<short>(v));
    forEachBlock(dst, plan,
                 AcrossAndDownBlend<WindowStep>{
                     rows, weight, {NextRowPrefetch(rows.next[0], plan), NextRowPrefetch(rows.next[1], plan)}});
}

using HorizontalBlocks = void(std::uint32_t*, const std::uint8_t*, const std::uint8_t*, const HorizontalPlan&);
using PairBlocks = void(std::uint8_t*, const PlannedRows&, int, const HorizontalPlan&);

HorizontalBlocks* const kHorizontalBlocks[3] = {horizontalBlocks<0>, horizontalBlocks<1>, horizontalBlocks<2>};
PairBlocks* const kPairBlocks[3] = {pairBlocks<0>, pairBlocks<1>, pairBlocks<2>};

int plannedOutputs(const HorizontalPlan& plan)
{
    return plan.blocks == 0 ? 0 : (plan.blocks - 1) * 16 + plan.lastOutputs;
}

void plannedHorizontal_AVX512_VBMI(std::uint32_t* out, const std::uint8_t* srcRow, const std::uint8_t* nextRow,
                                   const HorizontalPlan& plan)
{
    if (plan.blocks > 0)
        kHorizontalBlocks[plan.windowStep](out, srcRow, nextRow, plan);
    if (plan.restCount > 0)
        horizontal_AVX512(out + plannedOutputs(plan), srcRow, plan.rowWidth, plan.restCount, plan.restPos0,
                          plan.step);
}

void plannedPair_AVX512_VBMI(std::uint8_t* dst, const PlannedRows& rows, int v, const HorizontalPlan& plan)
{
    if (plan.blocks > 0)
        kPairBlocks[plan.windowStep](dst, rows, v, plan);
    // The rest through the plain kernels, a few pixels at a time on the stack.
    constexpr int kChunk = 64;
    alignas(64) std::uint32_t top[kChunk];
    alignas(64) std::uint32_t bottom[kChunk];
    std::uint8_t* rest = dst + std::size_t(plannedOutputs(plan)) * 4;
    for (int done = 0; done < plan.restCount; done += kChunk) {
        const int n = std::min(kChunk, plan.restCount - done);
        const auto position = static_cast<std::int32_t>(plan.restPos0 + std::int64_t{done} * plan.step);
        horizontal_AVX512(top, rows.row[0], plan.rowWidth, n, position, plan.step);
        horizontal_AVX512(bottom, rows.row[1], plan.rowWidth, n, position, plan.step);
        vertical_AVX512(rest + std::size_t(done) * 4, top, bottom, n, v, false);
    }
}

} // namespace

const BilinearKernels kBilinear_AVX512{"AVX-512", horizontal_AVX512, vertical_AVX512, finish_AVX512, nullptr,
                                       nullptr, nullptr};
const BilinearKernels kBilinear_AVX512_VBMI{"AVX-512 VBMI", horizontal_AVX512, vertical_AVX512, finish_AVX512,
                                            plan_AVX512_VBMI, plannedHorizontal_AVX512_VBMI,
                                            plannedPair_AVX512_VBMI};

} // namespace framescaler

#endif
