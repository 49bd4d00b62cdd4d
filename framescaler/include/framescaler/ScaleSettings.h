// The resize filter of libframescaler.so as other code sees it: class identifiers, the
// settings record and the settings interface.
#pragma once

#include "compat/com/Unknown.h"

#include <cstddef>
#include <cstdint>

inline constexpr CLSID CLSID_ScaleFilter = MakeGuid("{2952C4E8-EF21-4A08-AF2E-18232E86D011}");
inline constexpr CLSID CLSID_ScalePropertyPage = MakeGuid("{D2033CEC-0C8B-4818-98D2-8B75F14D5772}");
inline constexpr const char kScaleFilterName[] = "Orin Resize Filter";

// Settings record, little-endian. The first field says how many bytes are valid: the full
// 28, or the 24-byte short form without `mode`.
struct TScaleParams {
    uint16_t size = 28;
    uint16_t reserved = 0;
    int32_t enabled = 1;     // nonzero: scale to width x height; 0: pass frames through
    int32_t keepAspect = 0;  // nonzero: keep the input's aspect ratio inside black bars
    int32_t pause = 0;       // nonzero: every output frame is black
    int32_t width = 1024;
    int32_t height = 768;
    int32_t mode = 0;        // 0: nearest neighbour; 1: bilinear
};
static_assert(sizeof(TScaleParams) == 28);
static_assert(offsetof(TScaleParams, enabled) == 4 && offsetof(TScaleParams, mode) == 24);

inline constexpr uint16_t kScaleParamsShortSize = 24;
inline constexpr uint16_t kScaleParamsFullSize = 28;
// Sides of 32768 pixels or more cannot be scaled (16.16 fixed point).
inline constexpr int32_t kScaleMaxSide = 32767;

SC_INTERFACE_ID(IScaleSettings, "{5F7D2D51-0540-43EB-8129-0908826E5E32}")
struct IScaleSettings : IUnknown {
    // Copies params->size bytes (24 or 28) of the filter's record; the size word then reads 28.
    virtual HRESULT GetParams(TScaleParams *params) = 0;
    // Reads params->size bytes (24 or 28). While the output is connected only pause (and mode)
    // are taken; otherwise all fields, unless width or height is not above 0 (then nothing).
    // E_INVALIDARG for another size word or a side above kScaleMaxSide.
    virtual HRESULT SetParams(const TScaleParams *params) = 0;
};
