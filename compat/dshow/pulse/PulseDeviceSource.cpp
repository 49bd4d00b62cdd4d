#include "compat/dshow/pulse/PulseDeviceSource.h"

#include "compat/dshow/pulse/PulseCaptureFilter.h"

namespace sc::pulse {

PulseDeviceSource::PulseDeviceSource(std::chrono::milliseconds timeout) : timeout_(timeout) {}

std::vector<DeviceEntry> PulseDeviceSource::Devices(REFGUID category) {
    std::vector<DeviceEntry> entries;
    if (category != CLSID_AudioInputDeviceCategory)
        return entries;
    std::vector<SourceInfo> sources;
    try {
        sources = PulseClient::connect(timeout_)->inputSources();
    } catch (const PulseError &) {
        return entries;  // no sound server: no microphones
    }
    for (const SourceInfo &source : sources) {
        DeviceEntry entry;
        entry.category = CLSID_AudioInputDeviceCategory;
        entry.friendlyName = source.description;
        entry.displayName = MonikerPrefix() + source.name;
        entry.clsid = CLSID_PulseCaptureFilter;
        entry.properties = {{"SourceName", source.name}};
        std::string name = source.name;
        entry.create = [name](REFIID iid, void **object) -> HRESULT {
            PulseCaptureFilter *filter = nullptr;
            HRESULT hr = PulseCaptureFilter::Create(name, &filter);
            if (FAILED(hr))
                return hr;
            return HandOutNew(filter, iid, object);
        };
        entries.push_back(std::move(entry));
    }
    return entries;
}

} // namespace sc::pulse

namespace {
// The microphones join the system device enumerator when the media layer is loaded.
const bool registered = [] {
    DeviceRegistry::Instance().AddSource(std::make_shared<sc::pulse::PulseDeviceSource>());
    return true;
}();
} // namespace
