#include "capture/DSUtilEx.h"

#include "compat/dshow/FilterGraph.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>

QString ProgramFilePath() {
    char path[261] = {};
    const ssize_t length = ::readlink("/proc/self/exe", path, 260);
    return length > 0 ? QString::fromUtf8(path, int(length)) : QString();
}

QString DSResultMessage(HRESULT result, const QString &label) {
    const QString text = QString::fromStdString(HResultText(result)).left(255);
    char code[16];
    std::snprintf(code, sizeof code, "%X", static_cast<uint32_t>(result));
    return ProgramFilePath() + "\r\r" + text + " ($" + QString::fromLatin1(code) + "). \r\r" + label;
}

QString OSResultMessage(uint32_t code, const QString &label) {
    char number[16];
    std::snprintf(number, sizeof number, "%8X", code);
    return label + "[" + QString::fromLatin1(number) + "]: " + QString::fromStdString(SystemErrorText(code));
}

void CheckDSResult(HRESULT result, const QString &label) {
    if (FAILED(result)) throw EDirectShowError(DSResultMessage(result, label), result);
    if (result >= 2 && result < 16000) throw EOSError(OSResultMessage(uint32_t(result), label), uint32_t(result));
}

HRESULT FindPin(IBaseFilter *filter, PIN_DIRECTION direction, int index, IPin **pin) {
    if (!pin) return E_POINTER;
    *pin = nullptr;
    if (!filter) return E_POINTER;
    ComPtr<IEnumPins> pins;
    HRESULT hr = filter->EnumPins(pins.Put());
    if (FAILED(hr)) return hr;
    int count = 0;
    ComPtr<IPin> candidate;
    while (pins->Next(1, candidate.Put(), nullptr) == S_OK) {
        PIN_DIRECTION d;
        if (FAILED(candidate->QueryDirection(&d)) || d != direction) continue;
        if (count++ == index) {
            *pin = candidate.Detach();
            return S_OK;
        }
    }
    return E_FAIL;
}

HRESULT ConnectPins(IGraphBuilder *graph, IBaseFilter *from, IBaseFilter *to, int outputIndex, int inputIndex) {
    ComPtr<IPin> output, input;
    if (FAILED(FindPin(from, PINDIR_OUTPUT, outputIndex, output.Put())) ||
        FAILED(FindPin(to, PINDIR_INPUT, inputIndex, input.Put())))
        return VFW_E_NOT_FOUND;
    if (!graph) return E_POINTER;
    return graph->Connect(output.Get(), input.Get());
}

namespace {
IGraphBuilder *ActiveGraphOf(IFilterComponent *component) {
    if (!component) return nullptr;
    TFilterGraph *graph = component->FilterGraph();
    return graph && graph->Active() ? graph->GraphBuilder() : nullptr;
}
}  // namespace

HRESULT ConnectFilters(IFilterComponent *from, IFilterComponent *to, int outputIndex, int inputIndex) {
    IGraphBuilder *graph = ActiveGraphOf(from);
    if (!graph || !to) return E_POINTER;
    return ConnectPins(graph, from->GetFilter().Get(), to->GetFilter().Get(), outputIndex, inputIndex);
}

HRESULT ConnectFilters(IBaseFilter *from, IFilterComponent *to, int outputIndex, int inputIndex) {
    IGraphBuilder *graph = ActiveGraphOf(to);
    if (!graph) return E_POINTER;
    return ConnectPins(graph, from, to->GetFilter().Get(), outputIndex, inputIndex);
}

HRESULT ConnectFilters(IFilterComponent *from, IBaseFilter *to, int outputIndex, int inputIndex) {
    IGraphBuilder *graph = ActiveGraphOf(from);
    if (!graph) return E_POINTER;
    return ConnectPins(graph, from->GetFilter().Get(), to, outputIndex, inputIndex);
}

HRESULT SetCaptureFormat(IBaseFilter *captureFilter, int formatIndex) {
    if (!captureFilter) return E_POINTER;
    ComPtr<IEnumPins> pins;
    HRESULT hr = captureFilter->EnumPins(pins.Put());
    if (FAILED(hr)) return hr;
    ComPtr<IPin> pin;
    if (pins->Next(1, pin.Put(), nullptr) != S_OK) return VFW_E_NOT_FOUND;
    ComPtr<IAMStreamConfig> config;
    hr = pin->QueryInterface(IID_IAMStreamConfig, config.PutVoid());
    if (FAILED(hr)) return hr;

    std::vector<AM_MEDIA_TYPE> offered;
    ComPtr<IEnumMediaTypes> types;
    hr = pin->EnumMediaTypes(types.Put());
    if (FAILED(hr)) return hr;
    AM_MEDIA_TYPE *type = nullptr;
    while (types->Next(1, &type, nullptr) == S_OK) {
        offered.push_back(std::move(*type));
        DeleteMediaType(type);
    }
    if (offered.empty()) return VFW_E_NO_TYPES;
    // A stored index of −1 ("none chosen") or one past the list falls back to the first format.
    AM_MEDIA_TYPE &chosen = offered[formatIndex >= 0 && size_t(formatIndex) < offered.size() ? formatIndex : 0];
    if (auto *vih = chosen.VideoInfo()) vih->AvgTimePerFrame = CaptureFrameDuration;
    else if (auto *vih2 = chosen.VideoInfo2()) vih2->AvgTimePerFrame = CaptureFrameDuration;
    return config->SetFormat(&chosen);
}

HRESULT SetCaptureFormat(IFilterComponent *captureFilter, int formatIndex) {
    if (!captureFilter) return E_POINTER;
    return SetCaptureFormat(captureFilter->GetFilter().Get(), formatIndex);
}

std::string SubtypeName(REFGUID subtype) {
    struct Named {
        GUID subtype;
        const char *name;
    };
    static const Named kNames[] = {
        {MEDIASUBTYPE_MJPG, "MJPG"},   {MEDIASUBTYPE_YUY2, "YUY2"},
        {MEDIASUBTYPE_RGB24, "RGB24"}, {MEDIASUBTYPE_RGB32, "RGB32"},
        {MEDIASUBTYPE_H264, "H264"},   {MEDIASUBTYPE_PCM, "PCM"},
        {MEDIASUBTYPE_RAW_AAC1, "RAW_AAC1"},
        {MakeGuid("{E436EB7B-524F-11CE-9F53-0020AF0BA770}"), "RGB565"},
        {MakeGuid("{E436EB7C-524F-11CE-9F53-0020AF0BA770}"), "RGB555"},
        {MakeGuid("{773C9AC0-3274-11D0-B724-00AA006C1A01}"), "ARGB32"},
        {FourCCGuid(MakeFourCC('U', 'Y', 'V', 'Y')), "UYVY"},
        {FourCCGuid(MakeFourCC('Y', 'V', '1', '2')), "YV12"},
        {FourCCGuid(MakeFourCC('I', '4', '2', '0')), "I420"},
        {FourCCGuid(MakeFourCC('N', 'V', '1', '2')), "NV12"},
    };
    for (const Named &entry : kNames)
        if (entry.subtype == subtype) {
            std::string name = entry.name;
            name.resize(std::min<size_t>(name.size(), 5));
            std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return char(std::toupper(c)); });
            return name;
        }
    return {};
}
