#pragma once

#include "compat/com/Guid.h"

// Classes of the layer.
inline constexpr CLSID CLSID_FilterGraph = MakeGuid("{E436EBB3-524F-11CE-9F53-0020AF0BA770}");
inline constexpr CLSID CLSID_CaptureGraphBuilder2 = MakeGuid("{BF87B6E1-8C27-11D0-B3F0-00A0C911CE86}");
inline constexpr CLSID CLSID_SystemDeviceEnum = MakeGuid("{62BE5D10-60EB-11D0-BD3B-00A0C911CE86}");
inline constexpr CLSID CLSID_SampleGrabber = MakeGuid("{C1F400A0-3F08-11D3-9F0B-006008039E37}");
inline constexpr CLSID CLSID_NullRenderer = MakeGuid("{C1F400A4-3F08-11D3-9F0B-006008039E37}");
inline constexpr CLSID CLSID_MjpegDec = MakeGuid("{301056D0-6DFF-11D2-9EEB-006008039E37}");
inline constexpr CLSID CLSID_VideoRenderer = MakeGuid("{70E102B0-5556-11CE-97C0-00AA0055595A}");

// Device and filter categories. The video input category is the identifier the program
// enumerates cameras with.
inline constexpr GUID CLSID_VideoInputDeviceCategory = MakeGuid("{6994AD05-93EF-11D0-A3CC-00A0C9223196}");
inline constexpr GUID CLSID_AudioInputDeviceCategory = MakeGuid("{33D9A762-90C8-11D0-BD43-00A0C911CE86}");
inline constexpr GUID CLSID_VideoCompressorCategory = MakeGuid("{33D9A760-90C8-11D0-BD43-00A0C911CE86}");
inline constexpr GUID CLSID_AudioCompressorCategory = MakeGuid("{33D9A761-90C8-11D0-BD43-00A0C911CE86}");
inline constexpr GUID CLSID_LegacyAmFilterCategory = MakeGuid("{083863F1-70DE-11D0-BD40-00A0C911CE86}");

// Pin categories of capture filters.
inline constexpr GUID PIN_CATEGORY_CAPTURE = MakeGuid("{FB6C4281-0353-11D1-905F-0000C0CC16BA}");
inline constexpr GUID PIN_CATEGORY_PREVIEW = MakeGuid("{FB6C4282-0353-11D1-905F-0000C0CC16BA}");
