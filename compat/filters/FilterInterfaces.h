#pragma once
// Identifiers and configuration interfaces of the six outside filters, and the configuration
// steps the graphs run on them.
#include "SwitcherParams.h"

#include "compat/dshow/Interfaces.h"

#include <cstdint>

class QImage;

inline constexpr CLSID CLSID_RawVideoFilter = MakeGuid("{0B390488-D80F-4A68-8408-48DC199F0E97}");
inline constexpr CLSID CLSID_YUY2Switcher = MakeGuid("{6652CA2D-3530-40BC-A75B-D7EFFBFC2C65}");
inline constexpr CLSID CLSID_MainPushSource = MakeGuid("{2D2C2ECA-E183-40F2-8E5B-6498A045A221}");
inline constexpr CLSID CLSID_PanelCapture = MakeGuid("{2D2C5ECA-E483-40F2-8E5B-649BA045A221}");
inline constexpr CLSID CLSID_H264Encoder = MakeGuid("{5F3A9C1E-7B24-4D6A-9E41-2C8B7D0F6A53}");
inline constexpr CLSID CLSID_AacEncoder = MakeGuid("{88F36DB6-D898-40B5-B409-466A0EECC26A}");

// The H.264 encoder is found in the video compressor category by this name.
inline constexpr const char* kH264EncoderFriendlyName = "ffdshow video encoder";

// Raw video filter: a preset first, then integer parameters. Parameter 1302 = 1 makes YUY2
// the output (the only output this filter offers); 47, 1201, 1203 and the other output
// switches 1301-1309 and 1360 are accepted with 0.
SC_INTERFACE_ID(IRawVideoSettings, "{00F99063-70D5-4BCC-9D88-3801F3E3881B}")
struct IRawVideoSettings : IUnknown {
    virtual HRESULT SetParameter(int32_t id, int32_t value) = 0;
    // Only "default" exists.
    virtual HRESULT SelectPreset(const char* name, int32_t flag) = 0;
};

SC_INTERFACE_ID(IYUY2SwitcherParam, "{6F383628-5187-47BC-8CBC-2558B949F719}")
struct IYUY2SwitcherParam : IUnknown {
    // Shows input 0-4 alone over the whole output.
    virtual HRESULT SetMode(int32_t input) = 0;
    // Output size; once per build, before any pin is connected.
    virtual HRESULT SetParam(const TSwitcherParam* param) = 0;
    // Shows every layer of the 20 whose enabled word is -1.
    virtual HRESULT SetLayers(const TSwitcherLayer* layers) = 0;
};

SC_INTERFACE_ID(ISetPushSource, "{2848556C-0B7B-4B78-B671-15D28D17934F}")
struct ISetPushSource : IUnknown {
    // Frames per second of the stream (1-60); before the output is connected.
    virtual HRESULT SetPush(int32_t framesPerSecond) = 0;
};

// Window handles are Qt window identifiers (QWidget::winId()).
SC_INTERFACE_ID(ISetPushPanel, "{2898959C-0BEB-4B28-B671-15D28D17914F}")
struct ISetPushPanel : IUnknown {
    virtual HRESULT SetPanel(uintptr_t window, int32_t width, int32_t height) = 0;
    // A picture drawn by the caller on the GUI thread, copied at every frame instead of the
    // panel; null returns to the panel. The picture must outlive the capture or the next call.
    virtual HRESULT SetPicture(const QImage* picture) = 0;
    // 1: the panel shows another program's window, captured from the screen; 0: the panel's
    // own drawing.
    virtual HRESULT SetPlayMode(int32_t flag) = 0;
    virtual HRESULT SetOwnerWindow(uintptr_t window) = 0;
    // True: only the centred 4:3 part of the panel, stretched to the output size.
    virtual HRESULT SetIs4B3(int32_t flag) = 0;
    virtual HRESULT SetFrameRate(int32_t framesPerSecond) = 0;
    // True while a full-screen video covers the panel: the last picture repeats.
    virtual HRESULT SetFullScreen(int32_t flag) = 0;
};

// H.264 encoder: ResetParameters first, then parameters, while the filter is stopped.
// 3001 = bit rate in kbit/s; 3006 = output format, only 'H264' (875967048); 66, 47, 3005
// and 3322 are accepted and have no effect here.
SC_INTERFACE_ID(IVideoEncoderSettings, "{EC5BCCF4-FD62-45EE-B022-3840EAEA77B2}")
struct IVideoEncoderSettings : IUnknown {
    virtual HRESULT SetParameter(int32_t id, int32_t value) = 0;
    virtual HRESULT ResetParameters() = 0;
};

// AAC encoder configuration: version 0, object type 2 (AAC-LC), output 0 (raw frames), bit
// rate in bit/s.
struct AacEncoderConfig {
    int32_t version;
    int32_t objectType;
    int32_t outputFormat;
    int32_t bitRate;
};

SC_INTERFACE_ID(IAacEncoderSettings, "{4289BDC9-571F-41DC-B508-86B512B9F90C}")
struct IAacEncoderSettings : IUnknown {
    // Before the output is connected.
    virtual HRESULT SetConfig(const AacEncoderConfig* config) = 0;
};

inline constexpr int32_t kRawOutputYuy2 = 1302;

// The configuration steps of the graphs.
HRESULT ConfigffdshowRaw(IBaseFilter* filter, int32_t output);
HRESULT ConfigffdshowEncoder(IBaseFilter* filter, int32_t videoKBitRate);
HRESULT ConfigAudioCodecAAC(IBaseFilter* filter, int32_t audioKBitRate);

// Registers the six filters as built-in classes (once; later calls do nothing).
void RegisterOutsideFilters();
