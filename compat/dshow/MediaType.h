#pragma once

#include "compat/com/Guid.h"
#include "compat/com/HResult.h"

#include <cstdint>

// Media times in 100 ns units.
using REFERENCE_TIME = int64_t;
inline constexpr REFERENCE_TIME UNITS = 10000000;

// Byte-exact layouts of the platform's format records (32-bit fields: `long` is 64-bit here).
struct RECT {
    int32_t left = 0, top = 0, right = 0, bottom = 0;
};

struct BITMAPINFOHEADER {
    uint32_t biSize = 40;
    int32_t biWidth = 0;
    int32_t biHeight = 0;  // negative for top-down pictures
    uint16_t biPlanes = 1;
    uint16_t biBitCount = 0;
    uint32_t biCompression = 0;
    uint32_t biSizeImage = 0;
    int32_t biXPelsPerMeter = 0;
    int32_t biYPelsPerMeter = 0;
    uint32_t biClrUsed = 0;
    uint32_t biClrImportant = 0;
};
static_assert(sizeof(BITMAPINFOHEADER) == 40);

struct VIDEOINFOHEADER {
    RECT rcSource;
    RECT rcTarget;
    uint32_t dwBitRate = 0;
    uint32_t dwBitErrorRate = 0;
    REFERENCE_TIME AvgTimePerFrame = 0;
    BITMAPINFOHEADER bmiHeader;
};
static_assert(sizeof(VIDEOINFOHEADER) == 88);

struct VIDEOINFOHEADER2 {
    RECT rcSource;
    RECT rcTarget;
    uint32_t dwBitRate = 0;
    uint32_t dwBitErrorRate = 0;
    REFERENCE_TIME AvgTimePerFrame = 0;
    uint32_t dwInterlaceFlags = 0;
    uint32_t dwCopyProtectFlags = 0;
    uint32_t dwPictAspectRatioX = 0;
    uint32_t dwPictAspectRatioY = 0;
    uint32_t dwControlFlags = 0;
    uint32_t dwReserved2 = 0;
    BITMAPINFOHEADER bmiHeader;
};
static_assert(sizeof(VIDEOINFOHEADER2) == 112);

#pragma pack(push, 1)
struct WAVEFORMATEX {
    uint16_t wFormatTag = 0;
    uint16_t nChannels = 0;
    uint32_t nSamplesPerSec = 0;
    uint32_t nAvgBytesPerSec = 0;
    uint16_t nBlockAlign = 0;
    uint16_t wBitsPerSample = 0;
    uint16_t cbSize = 0;
};
#pragma pack(pop)
static_assert(sizeof(WAVEFORMATEX) == 18);

inline constexpr uint16_t WAVE_FORMAT_PCM = 1;
inline constexpr uint16_t WAVE_FORMAT_RAW_AAC1 = 0x00FF;
inline constexpr uint32_t BI_RGB = 0;

// Major types, subtypes and format types.
inline constexpr GUID MEDIATYPE_Video = FourCCGuid(MakeFourCC('v', 'i', 'd', 's'));
inline constexpr GUID MEDIATYPE_Audio = FourCCGuid(MakeFourCC('a', 'u', 'd', 's'));
inline constexpr GUID MEDIATYPE_Stream = MakeGuid("{E436EB83-524F-11CE-9F53-0020AF0BA770}");

inline constexpr GUID MEDIASUBTYPE_YUY2 = FourCCGuid(MakeFourCC('Y', 'U', 'Y', '2'));
inline constexpr GUID MEDIASUBTYPE_MJPG = FourCCGuid(MakeFourCC('M', 'J', 'P', 'G'));
inline constexpr GUID MEDIASUBTYPE_H264 = FourCCGuid(MakeFourCC('H', '2', '6', '4'));
inline constexpr GUID MEDIASUBTYPE_RGB24 = MakeGuid("{E436EB7D-524F-11CE-9F53-0020AF0BA770}");
inline constexpr GUID MEDIASUBTYPE_RGB32 = MakeGuid("{E436EB7E-524F-11CE-9F53-0020AF0BA770}");
inline constexpr GUID MEDIASUBTYPE_PCM = FourCCGuid(WAVE_FORMAT_PCM);
inline constexpr GUID MEDIASUBTYPE_RAW_AAC1 = FourCCGuid(WAVE_FORMAT_RAW_AAC1);
inline constexpr GUID MEDIASUBTYPE_AAC = MEDIASUBTYPE_RAW_AAC1;

inline constexpr GUID FORMAT_None = MakeGuid("{0F6417D6-C318-11D0-A43F-00A0C9223196}");
inline constexpr GUID FORMAT_VideoInfo = MakeGuid("{05589F80-C356-11CE-BF01-00AA0055595A}");
inline constexpr GUID FORMAT_VideoInfo2 = MakeGuid("{F72A76A0-EB0A-11D0-ACE4-0000C0CC16BA}");
inline constexpr GUID FORMAT_WaveFormatEx = MakeGuid("{05589F81-C356-11CE-BF01-00AA0055595A}");

// A media type that owns its format block: copying copies the block, assigning or destroying
// frees the old one. Format accessors return null unless the format type matches and the
// block is long enough, so a missing or short block is never read.
struct AM_MEDIA_TYPE {
    GUID majortype;
    GUID subtype;
    BOOL bFixedSizeSamples = 1;
    BOOL bTemporalCompression = 0;
    ULONG lSampleSize = 0;
    GUID formattype;
    ULONG cbFormat = 0;
    BYTE *pbFormat = nullptr;

    AM_MEDIA_TYPE() = default;
    AM_MEDIA_TYPE(const AM_MEDIA_TYPE &other);
    AM_MEDIA_TYPE(AM_MEDIA_TYPE &&other) noexcept;
    AM_MEDIA_TYPE &operator=(const AM_MEDIA_TYPE &other);
    AM_MEDIA_TYPE &operator=(AM_MEDIA_TYPE &&other) noexcept;
    ~AM_MEDIA_TYPE();

    // A zeroed format block of `size` bytes (the old one freed); null when size is 0 or
    // memory is short.
    BYTE *AllocFormatBuffer(ULONG size);
    HRESULT SetFormat(const void *data, ULONG size);
    void ResetFormatBuffer();

    bool IsEmpty() const { return majortype == GUID_NULL && subtype == GUID_NULL && formattype == GUID_NULL; }

    VIDEOINFOHEADER *VideoInfo() const;
    VIDEOINFOHEADER2 *VideoInfo2() const;
    WAVEFORMATEX *WaveFormat() const;
    // The bitmap header of either video format, or null.
    BITMAPINFOHEADER *BitmapHeader() const;
    // The frame duration of either video format, or 0.
    REFERENCE_TIME AvgTimePerFrame() const;
};

// Frees the format block and clears the type.
void FreeMediaType(AM_MEDIA_TYPE &type);
HRESULT CopyMediaType(AM_MEDIA_TYPE *target, const AM_MEDIA_TYPE *source);
// Heap copies handed out by enumerators; freed with DeleteMediaType.
AM_MEDIA_TYPE *CreateMediaType(const AM_MEDIA_TYPE *source);
void DeleteMediaType(AM_MEDIA_TYPE *type);

// Whether `type` fits `pattern`, where GUID_NULL fields of the pattern match anything.
bool MatchesPartialType(const AM_MEDIA_TYPE &type, const AM_MEDIA_TYPE &pattern);
// Major type, subtype, format type and format block all equal.
bool MediaTypesEqual(const AM_MEDIA_TYPE &a, const AM_MEDIA_TYPE &b);

// Bytes of one picture: |width| × |height| × bit count / 8 (top-down types have a negative
// height); 0 for a missing header or a size that does not fit 32 bits.
uint32_t BitmapImageSize(const BITMAPINFOHEADER &header);

// Ready-made types for tests, synthetic sources and filters.
AM_MEDIA_TYPE MakeVideoType(REFGUID subtype, int32_t width, int32_t height, uint16_t bitCount,
                            REFERENCE_TIME frameDuration = 400000, uint32_t compression = BI_RGB);
AM_MEDIA_TYPE MakePcmAudioType(uint32_t samplesPerSecond, uint16_t channels, uint16_t bitsPerSample);
