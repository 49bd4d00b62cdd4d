#include "compat/dshow/v4l2/V4l2DeviceSource.h"

#include "compat/dshow/v4l2/V4l2CaptureFilter.h"

#include <map>

namespace sc::v4l2 {

V4l2DeviceSource::V4l2DeviceSource(std::shared_ptr<V4l2Io> io) : io_(std::move(io)) {}

std::vector<DeviceEntry> V4l2DeviceSource::Devices(REFGUID category) {
    std::vector<DeviceEntry> entries;
    if (category != CLSID_VideoInputDeviceCategory)
        return entries;
    std::map<std::string, int> seen;
    for (const DeviceIdentity &device : listCaptureDevices(*io_)) {
        // A camera with two capture nodes on one bus keeps them apart by their order.
        std::string id = device.stableId();
        if (int count = seen[id]++; count > 0)
            id.append("#").append(std::to_string(count));
        DeviceEntry entry;
        entry.category = CLSID_VideoInputDeviceCategory;
        entry.friendlyName = device.card;
        entry.displayName = MonikerPrefix() + id;
        entry.clsid = CLSID_V4l2CaptureFilter;
        entry.properties = {{"DevicePath", device.path}, {"BusInfo", device.busInfo}, {"Driver", device.driver}};
        std::shared_ptr<V4l2Io> io = io_;
        std::string path = device.path;
        entry.create = [io, path](REFIID iid, void **object) -> HRESULT {
            V4l2CaptureFilter *filter = nullptr;
            HRESULT hr = V4l2CaptureFilter::Create(io, path, &filter);
            if (FAILED(hr))
                return hr;
            return HandOutNew(filter, iid, object);
        };
        entries.push_back(std::move(entry));
    }
    return entries;
}

} // namespace sc::v4l2

namespace {
// The cameras join the system device enumerator when the media layer is loaded.
const bool registered = [] {
    DeviceRegistry::Instance().AddSource(std::make_shared<sc::v4l2::V4l2DeviceSource>(sc::v4l2::systemV4l2Io()));
    return true;
}();
} // namespace
