#pragma once

// The system device enumerator (CLSID_SystemDeviceEnum, ICreateDevEnum) and moniker names.
// A category lists, in this order, the devices of every device source (V4L2 cameras,
// PulseAudio inputs, test devices) and the registered classes of that category, the latter
// as "@device:sw:{category}\{clsid}".

#include "compat/dshow/Interfaces.h"
#include "compat/dshow/Uuids.h"

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

struct DeviceEntry {
    GUID category;
    std::string friendlyName;
    std::string displayName;  // the moniker name, unique over all devices
    CLSID clsid;              // the class of the filter that serves the device
    // Makes the device's filter.
    std::function<HRESULT(REFIID iid, void **object)> create;
    // Further property-bag values ("DevicePath", …).
    std::map<std::string, std::string> properties;
};

// A backend that lists the devices of one kind.
class DeviceSource {
public:
    virtual ~DeviceSource() = default;
    virtual std::vector<DeviceEntry> Devices(REFGUID category) = 0;
};

class DeviceRegistry {
public:
    static DeviceRegistry &Instance();
    void AddSource(std::shared_ptr<DeviceSource> source);
    void RemoveSource(const std::shared_ptr<DeviceSource> &source);
    // Every device of the category, sources in the order they were added.
    std::vector<DeviceEntry> Devices(REFGUID category);

private:
    std::mutex lock;
    std::vector<std::shared_ptr<DeviceSource>> sources;
};

// Devices that tests add and remove at will.
class TestDeviceSource final : public DeviceSource {
public:
    void AddDevice(DeviceEntry entry);
    void Clear();
    std::vector<DeviceEntry> Devices(REFGUID category) override;

private:
    std::mutex lock;
    std::vector<DeviceEntry> devices;
};

// "@device:sw:{category}\{clsid}" of a registered class.
std::string SoftwareMonikerName(REFGUID category, REFCLSID clsid);
// A moniker for a display name: "@device:sw:{category}\{clsid}", "@device:sw:{category}\friendly
// name", or the display name of a device of a device source. MK_E_SYNTAX for a malformed
// name, MK_E_NOOBJECT when nothing has that name.
HRESULT MkParseDisplayName(const std::string &displayName, IMoniker **moniker);
// Binds a display name straight to the object's interface.
HRESULT BindMonikerName(const std::string &displayName, REFIID iid, void **object);
// The monikers of a category (what CreateClassEnumerator enumerates), as a vector.
std::vector<ComPtr<IMoniker>> CategoryMonikers(REFGUID category);
// A moniker of one device entry.
ComPtr<IMoniker> MonikerOf(const DeviceEntry &entry);
