#include "Yuy2Converter.h"

#include <libyuv/convert_argb.h>
#include <libyuv/convert_from_argb.h>
#include <libyuv/planar_functions.h>

namespace filters {

int PictureLayout::stride() const
{
    switch (format) {
    case PixelFormat::Yuy2:
        return width * 2;
    case PixelFormat::Rgb24:
        return (width * 3 + 3) & ~3;
    case PixelFormat::Rgb32:
        return width * 4;
    }
    return 0;
}

void Yuy2Converter::convert(const uint8_t* in, const PictureLayout& layout, uint8_t* out,
                            int outStride)
{
    const int w = layout.width;
    const int h = layout.height;
    const int inStride = layout.stride();
    // libyuv reads the source upside down when given a negative height.
    const int signedHeight = layout.bottomUp ? -h : h;
    switch (layout.format) {
    case PixelFormat::Yuy2:
        libyuv::CopyPlane(in, inStride, out, outStride, w * 2, signedHeight);
        break;
    case PixelFormat::Rgb32:
        libyuv::ARGBToYUY2(in, inStride, out, outStride, w, signedHeight);
        break;
    case PixelFormat::Rgb24:
        argbRow_.resize(size_t(w) * 4);
        for (int y = 0; y < h; ++y) {
            const uint8_t* row = in + size_t(layout.bottomUp ? h - 1 - y : y) * inStride;
            libyuv::RGB24ToARGB(row, 0, argbRow_.data(), 0, w, 1);
            libyuv::ARGBToYUY2(argbRow_.data(), 0, out + size_t(y) * outStride, 0, w, 1);
        }
        break;
    }
}

} // namespace filters
