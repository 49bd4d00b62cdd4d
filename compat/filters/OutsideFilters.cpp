#include "AacEncoderFilter.h"
#include "FilterInterfaces.h"
#include "H264EncoderFilter.h"
#include "MainPushSource.h"
#include "PanelCapture.h"
#include "RawVideoFilter.h"
#include "SwitcherFilter.h"

#include "compat/com/ClassRegistry.h"
#include "compat/com/Unknown.h"
#include "compat/dshow/Uuids.h"

#include <mutex>

namespace {

const RegisteredMediaType kAnyVideo{MEDIATYPE_Video, GUID_NULL};
const RegisteredMediaType kYuy2{MEDIATYPE_Video, MEDIASUBTYPE_YUY2};

} // namespace

void RegisterOutsideFilters()
{
    static std::once_flag once;
    std::call_once(once, [] {
        auto& registry = ClassRegistry::Instance();
        // Created by identifier or name only: intelligent connection never picks them.
        auto add = [&](CLSID clsid, const char* name, GUID category, std::vector<RegisteredMediaType> in,
                       std::vector<RegisteredMediaType> out, ClassCreator create) {
            registry.RegisterBuiltIn({clsid, name, "", "Both", MERIT_DO_NOT_USE, {category}, std::move(in),
                                      std::move(out)},
                                     std::move(create));
        };
        add(CLSID_RawVideoFilter, "Raw video to YUY2", CLSID_LegacyAmFilterCategory, {kAnyVideo}, {kYuy2},
            &CreateUnaggregated<filters::RawVideoFilter>);
        add(CLSID_YUY2Switcher, "3-in-1 YUY2 switcher", CLSID_LegacyAmFilterCategory, {kYuy2}, {kYuy2},
            &CreateUnaggregated<filters::SwitcherFilter>);
        add(CLSID_MainPushSource, "Main push source", CLSID_LegacyAmFilterCategory, {}, {kYuy2},
            &CreateUnaggregated<filters::MainPushSource>);
        add(CLSID_PanelCapture, "Panel capture", CLSID_LegacyAmFilterCategory, {},
            {{MEDIATYPE_Video, MEDIASUBTYPE_RGB32}}, &CreateUnaggregated<filters::PanelCaptureFilter>);
        add(CLSID_H264Encoder, kH264EncoderFriendlyName, CLSID_VideoCompressorCategory, {kYuy2},
            {{MEDIATYPE_Video, MEDIASUBTYPE_H264}}, &CreateUnaggregated<filters::H264EncoderFilter>);
        add(CLSID_AacEncoder, "AAC audio encoder", CLSID_LegacyAmFilterCategory,
            {{MEDIATYPE_Audio, MEDIASUBTYPE_PCM}}, {{MEDIATYPE_Audio, MEDIASUBTYPE_RAW_AAC1}},
            &CreateUnaggregated<filters::AacEncoderFilter>);
    });
}

HRESULT ConfigffdshowRaw(IBaseFilter* filter, int32_t output)
{
    if (!filter)
        return E_POINTER;
    ComPtr<IRawVideoSettings> settings;
    HRESULT hr = filter->QueryInterface(IID_IRawVideoSettings, settings.PutVoid());
    if (FAILED(hr))
        return hr;
    // The results of the parameter calls do not decide the outcome; the connection does.
    settings->SelectPreset("default", 0);
    settings->SetParameter(47, 1);
    settings->SetParameter(1201, 0);
    settings->SetParameter(1203, 0);
    for (int32_t id : {1309, 1301, 1302, 1303, 1304, 1360, 1305, 1306, 1307, 1308})
        settings->SetParameter(id, 0);
    settings->SetParameter(output, 1);
    return S_OK;
}

HRESULT ConfigffdshowEncoder(IBaseFilter* filter, int32_t videoKBitRate)
{
    if (!filter)
        return E_POINTER;
    ComPtr<IVideoEncoderSettings> settings;
    HRESULT hr = filter->QueryInterface(IID_IVideoEncoderSettings, settings.PutVoid());
    if (FAILED(hr))
        return hr;
    if (FAILED(hr = settings->ResetParameters()))
        return hr;
    settings->SetParameter(66, 0);
    settings->SetParameter(47, 1);
    settings->SetParameter(3005, 1900);
    settings->SetParameter(3006, 875967048);
    settings->SetParameter(3322, 4);
    return settings->SetParameter(3001, videoKBitRate);
}

HRESULT ConfigAudioCodecAAC(IBaseFilter* filter, int32_t audioKBitRate)
{
    if (!filter)
        return E_POINTER;
    ComPtr<IAacEncoderSettings> settings;
    const HRESULT hr = filter->QueryInterface(IID_IAacEncoderSettings, settings.PutVoid());
    if (FAILED(hr))
        return hr;
    const AacEncoderConfig config{0, 2, 0, audioKBitRate * 1000};
    return settings->SetConfig(&config);
}
