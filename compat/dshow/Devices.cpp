#include "compat/dshow/Devices.h"

#include "compat/com/ClassRegistry.h"
#include "compat/dshow/SnapshotEnumerator.h"

#include <algorithm>

DeviceRegistry &DeviceRegistry::Instance() {
    static DeviceRegistry *registry = new DeviceRegistry();
    return *registry;
}

void DeviceRegistry::AddSource(std::shared_ptr<DeviceSource> source) {
    std::lock_guard guard(lock);
    sources.push_back(std::move(source));
}

void DeviceRegistry::RemoveSource(const std::shared_ptr<DeviceSource> &source) {
    std::lock_guard guard(lock);
    sources.erase(std::remove(sources.begin(), sources.end(), source), sources.end());
}

std::vector<DeviceEntry> DeviceRegistry::Devices(REFGUID category) {
    std::vector<std::shared_ptr<DeviceSource>> snapshot;
    {
        std::lock_guard guard(lock);
        snapshot = sources;
    }
    std::vector<DeviceEntry> all;
    for (auto &source : snapshot)
        for (auto &entry : source->Devices(category)) all.push_back(std::move(entry));
    return all;
}

void TestDeviceSource::AddDevice(DeviceEntry entry) {
    std::lock_guard guard(lock);
    devices.push_back(std::move(entry));
}

void TestDeviceSource::Clear() {
    std::lock_guard guard(lock);
    devices.clear();
}

std::vector<DeviceEntry> TestDeviceSource::Devices(REFGUID category) {
    std::lock_guard guard(lock);
    std::vector<DeviceEntry> found;
    for (auto &entry : devices)
        if (entry.category == category) found.push_back(entry);
    return found;
}

std::string SoftwareMonikerName(REFGUID category, REFCLSID clsid) {
    return "@device:sw:" + GuidToString(category) + "\\" + GuidToString(clsid);
}

namespace {

class DevicePropertyBag final : public CUnknown, public IPropertyBag {
public:
    explicit DevicePropertyBag(const DeviceEntry &entry) : entry(entry) {}
    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID iid, void **object) override {
        if (iid == IID_IPropertyBag) return GetInterface(static_cast<IPropertyBag *>(this), object);
        return CUnknown::NonDelegatingQueryInterface(iid, object);
    }
    HRESULT Read(const char *property, std::string *value) override {
        if (!property || !value) return E_POINTER;
        const std::string name = property;
        if (name == "FriendlyName") *value = entry.friendlyName;
        else if (name == "CLSID") *value = GuidToString(entry.clsid);
        else if (auto it = entry.properties.find(name); it != entry.properties.end()) *value = it->second;
        else return E_INVALIDARG;
        return S_OK;
    }

private:
    DeviceEntry entry;
};

class DeviceMoniker final : public CUnknown, public IMoniker {
public:
    explicit DeviceMoniker(DeviceEntry entry) : entry(std::move(entry)) {}
    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID iid, void **object) override {
        if (iid == IID_IMoniker) return GetInterface(static_cast<IMoniker *>(this), object);
        return CUnknown::NonDelegatingQueryInterface(iid, object);
    }
    HRESULT BindToObject(REFIID iid, void **object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (!entry.create) return MK_E_NOOBJECT;
        return entry.create(iid, object);
    }
    HRESULT BindToStorage(REFIID iid, void **object) override {
        return CreateComObject<DevicePropertyBag>(iid, object, entry);
    }
    HRESULT GetDisplayName(std::string *name) override {
        if (!name) return E_POINTER;
        *name = entry.displayName;
        return S_OK;
    }

private:
    DeviceEntry entry;
};


DeviceEntry EntryOfClass(REFGUID category, const ClassRegistration &info) {
    DeviceEntry entry;
    entry.category = category;
    entry.friendlyName = info.name;
    entry.displayName = SoftwareMonikerName(category, info.clsid);
    entry.clsid = info.clsid;
    const CLSID clsid = info.clsid;
    entry.create = [clsid](REFIID iid, void **object) { return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC, iid, object); };
    return entry;
}

std::vector<DeviceEntry> CategoryEntries(REFGUID category) {
    std::vector<DeviceEntry> entries = DeviceRegistry::Instance().Devices(category);
    for (const auto &info : ClassRegistry::Instance().ClassesInCategory(category))
        entries.push_back(EntryOfClass(category, info));
    return entries;
}

constexpr GUID kKnownCategories[] = {CLSID_VideoInputDeviceCategory, CLSID_AudioInputDeviceCategory,
                                     CLSID_VideoCompressorCategory, CLSID_AudioCompressorCategory,
                                     CLSID_LegacyAmFilterCategory};

class SystemDeviceEnum final : public CUnknown, public ICreateDevEnum {
public:
    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID iid, void **object) override {
        if (iid == IID_ICreateDevEnum) return GetInterface(static_cast<ICreateDevEnum *>(this), object);
        return CUnknown::NonDelegatingQueryInterface(iid, object);
    }
    HRESULT CreateClassEnumerator(REFCLSID category, IEnumMoniker **out, DWORD) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        auto monikers = CategoryMonikers(category);
        if (monikers.empty()) return S_FALSE;
        return MakeSnapshotEnumerator(std::move(monikers), out);
    }
};

const BuiltInClassRegistrar registerDeviceEnum(
    ClassRegistration{CLSID_SystemDeviceEnum, "System Device Enumerator", "", "Both", 0, {}, {}, {}},
    &CreateUnaggregated<SystemDeviceEnum>);

}  // namespace

ComPtr<IMoniker> MonikerOf(const DeviceEntry &entry) {
    ComPtr<IMoniker> moniker;
    auto *m = new DeviceMoniker(entry);
    m->NonDelegatingQueryInterface(IID_IMoniker, moniker.PutVoid());
    return moniker;
}

std::vector<ComPtr<IMoniker>> CategoryMonikers(REFGUID category) {
    std::vector<ComPtr<IMoniker>> monikers;
    for (const auto &entry : CategoryEntries(category)) monikers.push_back(MonikerOf(entry));
    return monikers;
}

HRESULT MkParseDisplayName(const std::string &displayName, IMoniker **moniker) {
    if (!moniker) return E_POINTER;
    *moniker = nullptr;
    static const std::string kSoftware = "@device:sw:";
    if (displayName.rfind(kSoftware, 0) == 0) {
        const std::string rest = displayName.substr(kSoftware.size());
        const size_t slash = rest.find('\\');
        if (slash == std::string::npos) return MK_E_SYNTAX;
        const auto category = GuidFromString(rest.substr(0, slash));
        if (!category) return MK_E_SYNTAX;
        const std::string item = rest.substr(slash + 1);
        if (const auto clsid = GuidFromString(item)) {
            auto info = ClassRegistry::Instance().Find(*clsid);
            if (!info) return MK_E_NOOBJECT;
            return MonikerOf(EntryOfClass(*category, *info)).CopyTo(moniker);
        }
        for (const auto &entry : CategoryEntries(*category))
            if (entry.friendlyName == item) return MonikerOf(entry).CopyTo(moniker);
        return MK_E_NOOBJECT;
    }
    if (displayName.empty()) return MK_E_SYNTAX;
    for (const GUID &category : kKnownCategories)
        for (const auto &entry : DeviceRegistry::Instance().Devices(category))
            if (entry.displayName == displayName) return MonikerOf(entry).CopyTo(moniker);
    return MK_E_NOOBJECT;
}

HRESULT BindMonikerName(const std::string &displayName, REFIID iid, void **object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    ComPtr<IMoniker> moniker;
    HRESULT hr = MkParseDisplayName(displayName, moniker.Put());
    if (FAILED(hr)) return hr;
    return moniker->BindToObject(iid, object);
}
