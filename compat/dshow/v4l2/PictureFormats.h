#pragma once

#include "compat/dshow/MediaType.h"
#include "compat/dshow/v4l2/V4l2Device.h"

#include <cstddef>
#include <cstdint>

namespace sc::v4l2 {

// The media type of one format a camera offers: YUYV travels as YUY2, MJPG as MJPG, 24-bit
// RGB as upright RGB24; any other pixel format under its own four-character code.
AM_MEDIA_TYPE mediaTypeFor(const CaptureFormat &format, REFERENCE_TIME frameDuration);

// Whether a media type names this camera format (subtype and size).
bool describes(const AM_MEDIA_TYPE &type, const CaptureFormat &format);

// Bytes a sample needs for one picture of this format at the most.
size_t largestPictureBytes(const AppliedFormat &format);

// Copies one captured picture into a sample buffer in the layout its media type promises:
// rows packed, RGB turned upright with blue first. Returns the bytes written, or 0 when the
// picture is shorter than its format (a damaged frame) or the buffer is too small.
size_t packPicture(const AppliedFormat &format, const uint8_t *picture, size_t size,
                   uint8_t *destination, size_t capacity);

} // namespace sc::v4l2
