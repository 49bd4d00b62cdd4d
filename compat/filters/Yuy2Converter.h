#pragma once
// Converts one picture of YUY2, RGB24 or RGB32 (upright or bottom-up, rows padded to 4 bytes as
// in a bitmap) to upright YUY2 of the same size.
#include <cstdint>
#include <vector>

namespace filters {

enum class PixelFormat { Yuy2, Rgb24, Rgb32 };

struct PictureLayout {
    PixelFormat format = PixelFormat::Yuy2;
    int width = 0;
    int height = 0;       // rows, positive
    bool bottomUp = false; // first row in memory is the bottom row
    int stride() const;   // bytes per row in memory
    int size() const { return stride() * height; }
};

class Yuy2Converter {
public:
    // `out` holds width x height YUY2 pixels with `outStride` bytes per row.
    void convert(const uint8_t* in, const PictureLayout& layout, uint8_t* out, int outStride);

private:
    std::vector<uint8_t> argbRow_;
};

} // namespace filters
