#include "VideoTypes.h"

#include <cstdlib>

namespace filters {

std::optional<PictureLayout> pictureLayoutOf(const AM_MEDIA_TYPE& type)
{
    if (type.majortype != MEDIATYPE_Video || type.formattype != FORMAT_VideoInfo)
        return std::nullopt;
    const VIDEOINFOHEADER* info = type.VideoInfo();
    if (!info)
        return std::nullopt;
    const BITMAPINFOHEADER& bmi = info->bmiHeader;
    PictureLayout layout;
    layout.width = bmi.biWidth;
    layout.height = std::abs(bmi.biHeight);
    if (type.subtype == MEDIASUBTYPE_YUY2 && bmi.biBitCount == 16) {
        layout.format = PixelFormat::Yuy2;
        if (layout.width % 2)
            return std::nullopt;
    } else if (type.subtype == MEDIASUBTYPE_RGB24 && bmi.biBitCount == 24) {
        layout.format = PixelFormat::Rgb24;
        layout.bottomUp = bmi.biHeight > 0;
    } else if (type.subtype == MEDIASUBTYPE_RGB32 && bmi.biBitCount == 32) {
        layout.format = PixelFormat::Rgb32;
        layout.bottomUp = bmi.biHeight > 0;
    } else {
        return std::nullopt;
    }
    if (layout.width <= 0 || layout.height <= 0 || layout.width > 8192 || layout.height > 8192)
        return std::nullopt;
    return layout;
}

AM_MEDIA_TYPE makeYuy2Type(int width, int height, REFERENCE_TIME frameDuration)
{
    return MakeVideoType(MEDIASUBTYPE_YUY2, width, height, 16, frameDuration,
                         MakeFourCC('Y', 'U', 'Y', '2'));
}

} // namespace filters
