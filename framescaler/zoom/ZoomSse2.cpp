// SSE2 kernels: part of every x86-64 CPU, so they need no target attribute.
#include "Zoom.h"

#if defined(__x86_64__) || defined(__i386__)

#include <algorithm>
#include <emmintrin.h>

namespace framescaler {

namespace {

void nearestRow_SSE2(std::uint8_t* dst, const std::uint8_t* srcRow, int width, std::uint32_t stepX,
                     std::uint32_t lastColumn)
{
    std::uint32_t srcX = 0;
    const auto next = [&] {
        const std::uint32_t column = std::min(srcX >> 16, lastColumn);
        srcX += stepX;
        return loadPixel(srcRow + std::size_t(column) * 4);
    };
    int x = 0;
    // Four pixels per round, written two at a time past the cache: the destination is not
    // read again by this routine.
    for (; x + 4 <= width; x += 4) {
        const std::uint64_t a = next();
        const std::uint64_t b = next();
        const std::uint64_t c = next();
        const std::uint64_t d = next();
        auto* out = reinterpret_cast<long long*>(dst + std::size_t(x) * 4);
        _mm_stream_si64(out, static_cast<long long>(a | (b << 32)));
        _mm_stream_si64(out + 1, static_cast<long long>(c | (d << 32)));
    }
    for (; x < width; ++x)
        _mm_stream_si32(reinterpret_cast<int*>(dst + std::size_t(x) * 4), static_cast<int>(next()));
}

void finish_SSE2() { _mm_sfence(); }

// (a << 8) + w * (b - a) in 16-bit lanes wraps to exactly a * (256 - w) + b * w (at most 65280).
inline __m128i blend16(__m128i a, __m128i b, __m128i w)
{
    const __m128i sum = _mm_add_epi16(_mm_slli_epi16(a, 8), _mm_mullo_epi16(_mm_sub_epi16(b, a), w));
    return _mm_srli_epi16(sum, 8);
}

inline __m128i weightPair(std::int32_t first, std::int32_t second)
{
    const auto u0 = static_cast<short>((first >> 8) & 255);
    const auto u1 = static_cast<short>((second >> 8) & 255);
    return _mm_set_epi16(u1, u1, u1, u1, u0, u0, u0, u0);
}

void horizontal_SSE2(std::uint32_t* out, const std::uint8_t* srcRow, int /*rowWidth*/, int count, std::int32_t pos0,
                     std::int32_t step)
{
    const __m128i zero = _mm_setzero_si128();
    std::int32_t position = pos0;
    int i = 0;
    for (; i + 4 <= count; i += 4) {
        std::int32_t p[4];
        __m128i pairs[4];
        for (int k = 0; k < 4; ++k) {
            p[k] = position;
            pairs[k] = _mm_unpacklo_epi8(
                _mm_loadl_epi64(reinterpret_cast<const __m128i*>(srcRow + std::size_t(position >> 16) * 4)),
                zero);
            position += step;
        }
        const __m128i ab = blend16(_mm_unpacklo_epi64(pairs[0], pairs[1]),
                                   _mm_unpackhi_epi64(pairs[0], pairs[1]), weightPair(p[0], p[1]));
        const __m128i cd = blend16(_mm_unpacklo_epi64(pairs[2], pairs[3]),
                                   _mm_unpackhi_epi64(pairs[2], pairs[3]), weightPair(p[2], p[3]));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(ab, cd));
    }
    for (; i < count; ++i) {
        const std::uint8_t* pair = srcRow + std::size_t(position >> 16) * 4;
        out[i] = blendBytes(loadPixel(pair), loadPixel(pair + 4),
                            static_cast<std::uint32_t>((position >> 8) & 255));
        position += step;
    }
}

void vertical_SSE2(std::uint8_t* dst, const std::uint32_t* r0, const std::uint32_t* r1, int count,
                   int v, bool stream)
{
    if (v == 0)
        r1 = r0; // weight 0 gives r0 exactly
    const auto weight = static_cast<std::uint32_t>(v);
    const __m128i zero = _mm_setzero_si128();
    const __m128i w = _mm_set1_epi16(static_cast<short>(v));
    const bool streaming = stream && (reinterpret_cast<std::uintptr_t>(dst) & 3) == 0;
    int i = 0;
    const int head = streaming ? headToAlignment(dst, count, 16) : 0;
    for (; i < head; ++i)
        _mm_stream_si32(reinterpret_cast<int*>(dst + std::size_t(i) * 4),
                        static_cast<int>(blendBytes(r0[i], r1[i], weight)));
    for (; i + 4 <= count; i += 4) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r0 + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r1 + i));
        const __m128i lo = blend16(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero), w);
        const __m128i hi = blend16(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(b, zero), w);
        auto* out = reinterpret_cast<__m128i*>(dst + std::size_t(i) * 4);
        if (streaming)
            _mm_stream_si128(out, _mm_packus_epi16(lo, hi));
        else
            _mm_storeu_si128(out, _mm_packus_epi16(lo, hi));
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

const NearestKernels kNearest_SSE2{"SSE2", nearestRow_SSE2, finish_SSE2};
const BilinearKernels kBilinear_SSE2{"SSE2", horizontal_SSE2, vertical_SSE2, finish_SSE2, nullptr, nullptr,
                                     nullptr};

} // namespace framescaler

#endif
