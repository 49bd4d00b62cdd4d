#include "compat/dshow/MediaType.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

AM_MEDIA_TYPE::AM_MEDIA_TYPE(const AM_MEDIA_TYPE &other)
    : majortype(other.majortype),
      subtype(other.subtype),
      bFixedSizeSamples(other.bFixedSizeSamples),
      bTemporalCompression(other.bTemporalCompression),
      lSampleSize(other.lSampleSize),
      formattype(other.formattype) {
    if (other.pbFormat && other.cbFormat) SetFormat(other.pbFormat, other.cbFormat);
}

AM_MEDIA_TYPE::AM_MEDIA_TYPE(AM_MEDIA_TYPE &&other) noexcept
    : majortype(other.majortype),
      subtype(other.subtype),
      bFixedSizeSamples(other.bFixedSizeSamples),
      bTemporalCompression(other.bTemporalCompression),
      lSampleSize(other.lSampleSize),
      formattype(other.formattype),
      cbFormat(std::exchange(other.cbFormat, 0)),
      pbFormat(std::exchange(other.pbFormat, nullptr)) {}

AM_MEDIA_TYPE &AM_MEDIA_TYPE::operator=(const AM_MEDIA_TYPE &other) {
    if (this != &other) {
        AM_MEDIA_TYPE copy(other);
        *this = std::move(copy);
    }
    return *this;
}

AM_MEDIA_TYPE &AM_MEDIA_TYPE::operator=(AM_MEDIA_TYPE &&other) noexcept {
    if (this != &other) {
        ResetFormatBuffer();
        majortype = other.majortype;
        subtype = other.subtype;
        bFixedSizeSamples = other.bFixedSizeSamples;
        bTemporalCompression = other.bTemporalCompression;
        lSampleSize = other.lSampleSize;
        formattype = other.formattype;
        cbFormat = std::exchange(other.cbFormat, 0);
        pbFormat = std::exchange(other.pbFormat, nullptr);
    }
    return *this;
}

AM_MEDIA_TYPE::~AM_MEDIA_TYPE() { ResetFormatBuffer(); }

BYTE *AM_MEDIA_TYPE::AllocFormatBuffer(ULONG size) {
    ResetFormatBuffer();
    if (size == 0) return nullptr;
    pbFormat = static_cast<BYTE *>(std::calloc(1, size));
    if (pbFormat) cbFormat = size;
    return pbFormat;
}

HRESULT AM_MEDIA_TYPE::SetFormat(const void *data, ULONG size) {
    if (size && !data) return E_POINTER;
    if (size == 0) {
        ResetFormatBuffer();
        return S_OK;
    }
    BYTE *block = static_cast<BYTE *>(std::malloc(size));
    if (!block) return E_OUTOFMEMORY;
    std::memcpy(block, data, size);
    ResetFormatBuffer();
    pbFormat = block;
    cbFormat = size;
    return S_OK;
}

void AM_MEDIA_TYPE::ResetFormatBuffer() {
    std::free(pbFormat);
    pbFormat = nullptr;
    cbFormat = 0;
}

VIDEOINFOHEADER *AM_MEDIA_TYPE::VideoInfo() const {
    if (formattype != FORMAT_VideoInfo || !pbFormat || cbFormat < sizeof(VIDEOINFOHEADER)) return nullptr;
    return reinterpret_cast<VIDEOINFOHEADER *>(pbFormat);
}

VIDEOINFOHEADER2 *AM_MEDIA_TYPE::VideoInfo2() const {
    if (formattype != FORMAT_VideoInfo2 || !pbFormat || cbFormat < sizeof(VIDEOINFOHEADER2)) return nullptr;
    return reinterpret_cast<VIDEOINFOHEADER2 *>(pbFormat);
}

WAVEFORMATEX *AM_MEDIA_TYPE::WaveFormat() const {
    if (formattype != FORMAT_WaveFormatEx || !pbFormat || cbFormat < sizeof(WAVEFORMATEX)) return nullptr;
    return reinterpret_cast<WAVEFORMATEX *>(pbFormat);
}

BITMAPINFOHEADER *AM_MEDIA_TYPE::BitmapHeader() const {
    if (auto *vih = VideoInfo()) return &vih->bmiHeader;
    if (auto *vih2 = VideoInfo2()) return &vih2->bmiHeader;
    return nullptr;
}

REFERENCE_TIME AM_MEDIA_TYPE::AvgTimePerFrame() const {
    if (auto *vih = VideoInfo()) return vih->AvgTimePerFrame;
    if (auto *vih2 = VideoInfo2()) return vih2->AvgTimePerFrame;
    return 0;
}

void FreeMediaType(AM_MEDIA_TYPE &type) { type = AM_MEDIA_TYPE(); }

HRESULT CopyMediaType(AM_MEDIA_TYPE *target, const AM_MEDIA_TYPE *source) {
    if (!target || !source) return E_POINTER;
    if (target == source) return S_OK;
    AM_MEDIA_TYPE copy(*source);
    if (source->cbFormat && !copy.pbFormat) return E_OUTOFMEMORY;
    *target = std::move(copy);
    return S_OK;
}

AM_MEDIA_TYPE *CreateMediaType(const AM_MEDIA_TYPE *source) {
    auto *type = new (std::nothrow) AM_MEDIA_TYPE();
    if (type && source && FAILED(CopyMediaType(type, source))) {
        delete type;
        return nullptr;
    }
    return type;
}

void DeleteMediaType(AM_MEDIA_TYPE *type) { delete type; }

bool MatchesPartialType(const AM_MEDIA_TYPE &type, const AM_MEDIA_TYPE &pattern) {
    if (pattern.majortype != GUID_NULL && pattern.majortype != type.majortype) return false;
    if (pattern.subtype != GUID_NULL && pattern.subtype != type.subtype) return false;
    if (pattern.formattype != GUID_NULL) {
        if (pattern.formattype != type.formattype) return false;
        if (pattern.cbFormat != type.cbFormat) return false;
        if (pattern.cbFormat && std::memcmp(pattern.pbFormat, type.pbFormat, pattern.cbFormat) != 0) return false;
    }
    return true;
}

bool MediaTypesEqual(const AM_MEDIA_TYPE &a, const AM_MEDIA_TYPE &b) {
    return a.majortype == b.majortype && a.subtype == b.subtype && a.formattype == b.formattype &&
           a.cbFormat == b.cbFormat && (a.cbFormat == 0 || std::memcmp(a.pbFormat, b.pbFormat, a.cbFormat) == 0);
}

uint32_t BitmapImageSize(const BITMAPINFOHEADER &header) {
    const int64_t width = header.biWidth < 0 ? -int64_t(header.biWidth) : header.biWidth;
    const int64_t height = header.biHeight < 0 ? -int64_t(header.biHeight) : header.biHeight;
    const int64_t size = width * height * header.biBitCount / 8;
    return size > 0 && size <= int64_t(UINT32_MAX) ? uint32_t(size) : 0;
}

AM_MEDIA_TYPE MakeVideoType(REFGUID subtype, int32_t width, int32_t height, uint16_t bitCount,
                            REFERENCE_TIME frameDuration, uint32_t compression) {
    AM_MEDIA_TYPE type;
    type.majortype = MEDIATYPE_Video;
    type.subtype = subtype;
    type.formattype = FORMAT_VideoInfo;
    VIDEOINFOHEADER vih;
    vih.AvgTimePerFrame = frameDuration;
    vih.bmiHeader.biWidth = width;
    vih.bmiHeader.biHeight = height;
    vih.bmiHeader.biBitCount = bitCount;
    vih.bmiHeader.biCompression = compression;
    vih.bmiHeader.biSizeImage = BitmapImageSize(vih.bmiHeader);
    vih.rcSource = {0, 0, width, height < 0 ? -height : height};
    vih.rcTarget = vih.rcSource;
    type.lSampleSize = vih.bmiHeader.biSizeImage;
    type.SetFormat(&vih, sizeof vih);
    return type;
}

AM_MEDIA_TYPE MakePcmAudioType(uint32_t samplesPerSecond, uint16_t channels, uint16_t bitsPerSample) {
    AM_MEDIA_TYPE type;
    type.majortype = MEDIATYPE_Audio;
    type.subtype = MEDIASUBTYPE_PCM;
    type.formattype = FORMAT_WaveFormatEx;
    WAVEFORMATEX wfx;
    wfx.wFormatTag = WAVE_FORMAT_PCM;
    wfx.nChannels = channels;
    wfx.nSamplesPerSec = samplesPerSecond;
    wfx.wBitsPerSample = bitsPerSample;
    wfx.nBlockAlign = static_cast<uint16_t>(channels * bitsPerSample / 8);
    wfx.nAvgBytesPerSec = samplesPerSecond * wfx.nBlockAlign;
    type.lSampleSize = wfx.nBlockAlign;
    type.SetFormat(&wfx, sizeof wfx);
    return type;
}
