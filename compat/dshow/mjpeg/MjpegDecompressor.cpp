#include "compat/dshow/mjpeg/MjpegDecompressor.h"

#include "compat/com/ClassRegistry.h"
#include "compat/dshow/Uuids.h"

#include <cstdlib>

namespace sc::mjpeg {
namespace {

const BITMAPINFOHEADER *videoHeader(const AM_MEDIA_TYPE *type) {
    return type && type->majortype == MEDIATYPE_Video ? type->BitmapHeader() : nullptr;
}

int rgbStride(int width, int bytesPerPixel) { return (width * bytesPerPixel + 3) & ~3; }

} // namespace

MjpegDecompressor::MjpegDecompressor() : CTransformFilter("MJPEG Decompressor", CLSID_MjpegDec) {}

const ClassRegistration &MjpegDecompressor::Registration() {
    static const ClassRegistration registration{
        CLSID_MjpegDec,
        "MJPEG Decompressor",
        "",
        "Both",
        MERIT_NORMAL,
        {CLSID_LegacyAmFilterCategory},
        {{MEDIATYPE_Video, MEDIASUBTYPE_MJPG}},
        {{MEDIATYPE_Video, MEDIASUBTYPE_YUY2}, {MEDIATYPE_Video, MEDIASUBTYPE_RGB24}, {MEDIATYPE_Video, MEDIASUBTYPE_RGB32}},
    };
    return registration;
}

HRESULT MjpegDecompressor::CheckInputType(const AM_MEDIA_TYPE *type) {
    const BITMAPINFOHEADER *header = videoHeader(type);
    if (!header || type->subtype != MEDIASUBTYPE_MJPG)
        return VFW_E_TYPE_NOT_ACCEPTED;
    if (header->biWidth <= 0 || header->biHeight == 0 || header->biWidth > 16384 || std::abs(header->biHeight) > 16384)
        return VFW_E_TYPE_NOT_ACCEPTED;
    return S_OK;
}

bool MjpegDecompressor::DescribeOutput(const AM_MEDIA_TYPE &type, Output *output) {
    const BITMAPINFOHEADER *header = videoHeader(&type);
    if (!header || header->biWidth <= 0 || header->biHeight == 0)
        return false;
    Output described;
    described.width = header->biWidth;
    described.height = std::abs(header->biHeight);
    if (type.subtype == MEDIASUBTYPE_YUY2) {
        if (described.width % 2)
            return false;
        described.format = PictureFormat::Yuy2;
        described.stride = described.width * 2;
    } else if (type.subtype == MEDIASUBTYPE_RGB24 || type.subtype == MEDIASUBTYPE_RGB32) {
        const bool rgb24 = type.subtype == MEDIASUBTYPE_RGB24;
        described.format = rgb24 ? PictureFormat::Rgb24 : PictureFormat::Rgb32;
        described.stride = rgbStride(described.width, rgb24 ? 3 : 4);
        described.bottomUp = header->biHeight > 0;  // upright bitmaps store the last row first
    } else {
        return false;
    }
    described.imageSize = static_cast<uint32_t>(described.stride) * described.height;
    *output = described;
    return true;
}

HRESULT MjpegDecompressor::CheckTransform(const AM_MEDIA_TYPE *input, const AM_MEDIA_TYPE *output) {
    const BITMAPINFOHEADER *in = videoHeader(input);
    Output described;
    if (!in || !output || !DescribeOutput(*output, &described))
        return VFW_E_TYPE_NOT_ACCEPTED;
    if (described.width != in->biWidth || described.height != std::abs(in->biHeight))
        return VFW_E_TYPE_NOT_ACCEPTED;
    return S_OK;
}

HRESULT MjpegDecompressor::GetMediaType(int position, AM_MEDIA_TYPE *type) {
    if (!type)
        return E_POINTER;
    if (!InputPin() || !InputPin()->IsConnected())
        return E_UNEXPECTED;
    if (position < 0)
        return E_INVALIDARG;
    const AM_MEDIA_TYPE &input = InputPin()->CurrentMediaType();
    const BITMAPINFOHEADER *in = input.BitmapHeader();
    const int width = in->biWidth, height = std::abs(in->biHeight);
    const REFERENCE_TIME duration = input.AvgTimePerFrame();
    switch (position) {
    case 0:
        if (width % 2)
            return VFW_S_NO_MORE_ITEMS;
        *type = MakeVideoType(MEDIASUBTYPE_YUY2, width, height, 16, duration, MakeFourCC('Y', 'U', 'Y', '2'));
        return S_OK;
    case 1:
        *type = MakeVideoType(MEDIASUBTYPE_RGB24, width, height, 24, duration);
        break;
    case 2:
        *type = MakeVideoType(MEDIASUBTYPE_RGB32, width, height, 32, duration);
        break;
    default:
        return VFW_S_NO_MORE_ITEMS;
    }
    // Upright bitmaps pad rows to four bytes.
    Output described;
    DescribeOutput(*type, &described);
    type->VideoInfo()->bmiHeader.biSizeImage = described.imageSize;
    type->lSampleSize = described.imageSize;
    return S_OK;
}

HRESULT MjpegDecompressor::SetMediaType(PIN_DIRECTION direction, const AM_MEDIA_TYPE *type) {
    if (direction == PINDIR_OUTPUT && (!type || !DescribeOutput(*type, &output_)))
        return VFW_E_TYPE_NOT_ACCEPTED;
    return S_OK;
}

HRESULT MjpegDecompressor::DecideBufferSize(IMemAllocator *allocator, ALLOCATOR_PROPERTIES *request) {
    return RequestAtLeast(allocator, request, 1, static_cast<int32_t>(output_.imageSize));
}

HRESULT MjpegDecompressor::Transform(IMediaSample *input, IMediaSample *output) {
    BYTE *jpeg = nullptr, *picture = nullptr;
    if (FAILED(input->GetPointer(&jpeg)) || FAILED(output->GetPointer(&picture)))
        return E_POINTER;
    if (output->GetSize() < static_cast<LONG>(output_.imageSize))
        return VFW_E_BUFFER_OVERFLOW;
    const LONG length = input->GetActualDataLength();
    if (!decoder_.decode(jpeg, static_cast<size_t>(std::max<LONG>(length, 0)), output_.width,
                         output_.height, output_.format, picture, output_.stride, output_.bottomUp)) {
        ++dropped_;
        std::lock_guard lock(reasonLock_);
        lastDropReason_ = decoder_.lastError();
        return S_FALSE;  // dropped: the next picture is decoded as usual
    }
    output->SetActualDataLength(static_cast<LONG>(output_.imageSize));
    output->SetSyncPoint(1);  // every decoded picture stands alone
    ++decoded_;
    return S_OK;
}

std::string MjpegDecompressor::LastDropReason() const {
    std::lock_guard lock(reasonLock_);
    return lastDropReason_;
}

} // namespace sc::mjpeg

namespace {
const BuiltInClassRegistrar registrar(sc::mjpeg::MjpegDecompressor::Registration(),
                                      &CreateUnaggregated<sc::mjpeg::MjpegDecompressor>);
} // namespace
