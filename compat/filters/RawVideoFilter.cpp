#include "RawVideoFilter.h"

#include "VideoTypes.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace filters {

namespace {
// Switches the settings accept: processing (47), two picture options (1201, 1203) and the
// output format switches, of which only YUY2 can be on.
constexpr std::array<int32_t, 13> kKnownParameters = {47,   1201, 1203, 1301, 1302, 1303, 1304,
                                                      1305, 1306, 1307, 1308, 1309, 1360};
} // namespace

RawVideoFilter::RawVideoFilter() : CTransformFilter("Raw video to YUY2", CLSID_RawVideoFilter) {}

HRESULT RawVideoFilter::NonDelegatingQueryInterface(REFIID iid, void** object)
{
    if (iid == IID_IRawVideoSettings)
        return GetInterface(static_cast<IRawVideoSettings*>(this), object);
    return CTransformFilter::NonDelegatingQueryInterface(iid, object);
}

HRESULT RawVideoFilter::SelectPreset(const char* name, int32_t flag)
{
    if (!name)
        return E_POINTER;
    if (std::strcmp(name, "default") != 0 || flag != 0)
        return E_INVALIDARG;
    CAutoLock lock(m_csFilter);
    presetSelected_ = true;
    return S_OK;
}

HRESULT RawVideoFilter::SetParameter(int32_t id, int32_t value)
{
    if (std::find(kKnownParameters.begin(), kKnownParameters.end(), id) == kKnownParameters.end())
        return E_INVALIDARG;
    if (value != 0 && value != 1)
        return E_INVALIDARG;
    const bool isOutputSwitch = (id >= 1301 && id <= 1309) || id == 1360;
    if (isOutputSwitch && id != kRawOutputYuy2 && value == 1)
        return E_NOTIMPL; // YUY2 is the only output
    CAutoLock lock(m_csFilter);
    if (!presetSelected_)
        return VFW_E_WRONG_STATE; // parameters apply on top of a preset
    if (!IsStopped())
        return VFW_E_NOT_STOPPED;
    return S_OK;
}

HRESULT RawVideoFilter::CheckInputType(const AM_MEDIA_TYPE* type)
{
    if (!type)
        return E_POINTER;
    const auto layout = pictureLayoutOf(*type);
    // YUY2 carries pixel pairs: an odd width cannot be represented.
    return layout && layout->width % 2 == 0 ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT RawVideoFilter::GetMediaType(int position, AM_MEDIA_TYPE* type)
{
    if (const HRESULT hr = OnlyOutputTypeAt(position, type); hr != S_OK)
        return hr;
    const AM_MEDIA_TYPE& in = InputPin()->CurrentMediaType();
    const auto layout = pictureLayoutOf(in);
    if (!layout)
        return VFW_E_TYPE_NOT_ACCEPTED;
    *type = makeYuy2Type(layout->width, layout->height, in.AvgTimePerFrame());
    return S_OK;
}

HRESULT RawVideoFilter::CheckTransform(const AM_MEDIA_TYPE* input, const AM_MEDIA_TYPE* output)
{
    if (!input || !output)
        return E_POINTER;
    const auto in = pictureLayoutOf(*input);
    const auto out = pictureLayoutOf(*output);
    if (!in || !out || out->format != PixelFormat::Yuy2 || out->width != in->width ||
        out->height != in->height)
        return VFW_E_TYPE_NOT_ACCEPTED;
    return S_OK;
}

HRESULT RawVideoFilter::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request)
{
    const auto out = pictureLayoutOf(OutputPin()->CurrentMediaType());
    if (!out)
        return VFW_E_NOT_CONNECTED;
    return RequestAtLeast(allocator, request, 1, out->size());
}

HRESULT RawVideoFilter::Transform(IMediaSample* input, IMediaSample* output)
{
    const auto in = pictureLayoutOf(InputPin()->CurrentMediaType());
    if (!in)
        return VFW_E_NOT_CONNECTED;
    if (input->GetActualDataLength() < in->size())
        return S_FALSE; // a short picture is dropped, not read past its end
    const int outSize = in->width * 2 * in->height;
    if (output->GetSize() < outSize)
        return VFW_E_BUFFER_OVERFLOW;
    BYTE* src = nullptr;
    BYTE* dst = nullptr;
    input->GetPointer(&src);
    output->GetPointer(&dst);
    converter_.convert(src, *in, dst, in->width * 2);
    output->SetActualDataLength(outSize);
    output->SetSyncPoint(1);
    return S_OK;
}

} // namespace filters
