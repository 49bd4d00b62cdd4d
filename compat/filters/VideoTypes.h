#pragma once
// Reading and making the video media types the filters use.
#include "Yuy2Converter.h"

#include "compat/dshow/MediaType.h"

#include <optional>

namespace filters {

// The picture layout of an uncompressed YUY2, RGB24 or RGB32 video type with VIDEOINFOHEADER,
// or nothing for any other type. YUY2 rows are always top row first; RGB rows are bottom row
// first unless the height is negative.
std::optional<PictureLayout> pictureLayoutOf(const AM_MEDIA_TYPE& type);

// YUY2 of width x height, top row first, with the given frame duration.
AM_MEDIA_TYPE makeYuy2Type(int width, int height, REFERENCE_TIME frameDuration);

} // namespace filters
