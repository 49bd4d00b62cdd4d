// The two scaling routines as exported C functions: argument checks, then the fastest kernels.
#include "framescaler/PicZoom.h"
#include "zoom/Zoom.h"

namespace {

// Sources must keep size * 65536 within 32 bits, as the 16.16 steps require.
constexpr int kSourceSideLimit = 32768;

bool servable(const PixelBufferRef* destination, const PixelBufferRef* source)
{
    if (destination == nullptr || source == nullptr)
        return false;
    if (destination->width <= 0 || destination->height <= 0 || destination->pixels == nullptr)
        return false;
    return source->pixels != nullptr && source->width > 0 && source->height > 0
        && source->width < kSourceSideLimit && source->height < kSourceSideLimit;
}

framescaler::DestPicture destView(const PixelBufferRef& p)
{
    return {static_cast<std::uint8_t*>(p.pixels), p.stride, p.width, p.height};
}

framescaler::SourcePicture sourceView(const PixelBufferRef& p)
{
    return {static_cast<const std::uint8_t*>(p.pixels), p.stride, p.width, p.height};
}

} // namespace

extern "C" __attribute__((visibility("default"))) void PicZoom(const PixelBufferRef* destination,
                                                               const PixelBufferRef* source)
{
    if (!servable(destination, source))
        return;
    framescaler::zoomNearest(destView(*destination), sourceView(*source),
                             *framescaler::bestKernels().nearest);
}

extern "C" __attribute__((visibility("default"))) void PicZoom_Bilinear(
    const PixelBufferRef* destination, const PixelBufferRef* source)
{
    if (!servable(destination, source))
        return;
    framescaler::zoomBilinear(destView(*destination), sourceView(*source),
                              *framescaler::bestKernels().bilinear);
}
