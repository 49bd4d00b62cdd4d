#pragma once
// Small YUY2 picture helpers for the filter tests.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace testpic {

struct Yuv {
    uint8_t y, u, v;
    bool operator==(const Yuv&) const = default;
};

inline std::vector<uint8_t> solidYuy2(int width, int height, Yuv c)
{
    std::vector<uint8_t> p(size_t(width) * height * 2);
    for (size_t i = 0; i < p.size(); i += 4) {
        p[i] = c.y;
        p[i + 1] = c.u;
        p[i + 2] = c.y;
        p[i + 3] = c.v;
    }
    return p;
}

inline Yuv pixelAt(const std::vector<uint8_t>& yuy2, int width, int x, int y)
{
    const size_t row = size_t(y) * width * 2;
    const size_t pair = row + size_t(x & ~1) * 2;
    return {yuy2[row + size_t(x) * 2], yuy2[pair + 1], yuy2[pair + 3]};
}

} // namespace testpic
