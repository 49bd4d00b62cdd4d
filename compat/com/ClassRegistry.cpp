#include "compat/com/ClassRegistry.h"

#include <nlohmann/json.hpp>

#include <dlfcn.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <unordered_map>

namespace fs = std::filesystem;
using nlohmann::json;

bool ClassRegistration::InCategory(REFGUID category) const {
    return std::find(categories.begin(), categories.end(), category) != categories.end();
}

namespace {

json TypesToJson(const std::vector<RegisteredMediaType> &types) {
    json list = json::array();
    for (const auto &t : types) list.push_back({GuidToString(t.majorType), GuidToString(t.subType)});
    return list;
}

std::vector<RegisteredMediaType> TypesFromJson(const json &list) {
    std::vector<RegisteredMediaType> types;
    if (!list.is_array()) return types;
    for (const auto &pair : list) {
        if (!pair.is_array() || pair.size() != 2 || !pair[0].is_string() || !pair[1].is_string()) continue;
        auto major = GuidFromString(pair[0].get<std::string>());
        auto sub = GuidFromString(pair[1].get<std::string>());
        if (major && sub) types.push_back({*major, *sub});
    }
    return types;
}

json ToJson(const ClassRegistration &info) {
    json categories = json::array();
    for (const auto &c : info.categories) categories.push_back(GuidToString(c));
    return {{"clsid", GuidToString(info.clsid)}, {"name", info.name},
            {"library", info.library},          {"threading", info.threadingModel},
            {"merit", info.merit},              {"categories", categories},
            {"inputs", TypesToJson(info.inputTypes)}, {"outputs", TypesToJson(info.outputTypes)}};
}

std::optional<ClassRegistration> FromJson(const json &entry) {
    if (!entry.is_object()) return std::nullopt;
    auto clsid = GuidFromString(entry.value("clsid", std::string()));
    if (!clsid) return std::nullopt;
    ClassRegistration info;
    info.clsid = *clsid;
    info.name = entry.value("name", std::string());
    info.library = entry.value("library", std::string());
    info.threadingModel = entry.value("threading", std::string("Both"));
    info.merit = entry.value("merit", 0u);
    if (entry.contains("categories") && entry["categories"].is_array())
        for (const auto &c : entry["categories"])
            if (c.is_string())
                if (auto g = GuidFromString(c.get<std::string>())) info.categories.push_back(*g);
    if (entry.contains("inputs")) info.inputTypes = TypesFromJson(entry["inputs"]);
    if (entry.contains("outputs")) info.outputTypes = TypesFromJson(entry["outputs"]);
    return info;
}

std::string DefaultRegistryPath() {
    if (const char *env = std::getenv("STUDIOCAST_COM_REGISTRY"); env && *env) return env;
    if (const char *data = std::getenv("XDG_DATA_HOME"); data && *data)
        return std::string(data) + "/studiocast/com-registry.json";
    const char *home = std::getenv("HOME");
    return std::string(home && *home ? home : "/tmp") + "/.local/share/studiocast/com-registry.json";
}

struct LoadedLibrary {
    void *handle = nullptr;
    DllGetClassObjectFn getClassObject = nullptr;
    DllCanUnloadNowFn canUnloadNow = nullptr;
};

}  // namespace

struct ClassRegistry::Impl {
    // Re-entrant: loading a library runs its static initialisers, which may register
    // built-in classes on this same thread.
    mutable std::recursive_mutex lock;
    std::string explicitPath;
    std::unordered_map<GUID, std::pair<ClassRegistration, ClassCreator>> builtIns;
    // The registry file as last read, and the file's identity then.
    mutable std::map<GUID, ClassRegistration> fileClasses;
    mutable std::string cachedPath;
    mutable struct timespec cachedTime {};
    mutable off_t cachedSize = -1;
    // The file exists but could not be read whole: it is never written over, lest the classes
    // of others be lost.
    mutable bool unreadable = false;
    std::map<std::string, LoadedLibrary> libraries;

    std::string Path() const { return explicitPath.empty() ? DefaultRegistryPath() : explicitPath; }

    // Re-reads the file when it changed since the last read (another process registered).
    void Refresh() const {
        const std::string path = Path();
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0) {
            fileClasses.clear();
            unreadable = false;
            cachedPath = path;
            cachedSize = -1;
            return;
        }
        if (path == cachedPath && st.st_size == cachedSize && st.st_mtim.tv_sec == cachedTime.tv_sec &&
            st.st_mtim.tv_nsec == cachedTime.tv_nsec)
            return;
        fileClasses.clear();
        std::ifstream in(path);
        json doc = json::parse(in, nullptr, false);
        unreadable = doc.is_discarded() || !doc.is_object() || !doc.contains("classes") || !doc["classes"].is_array();
        if (!unreadable)
            for (const auto &entry : doc["classes"]) {
                if (auto info = FromJson(entry))
                    fileClasses[info->clsid] = *info;
                else
                    unreadable = true;
            }
        cachedPath = path;
        cachedSize = st.st_size;
        cachedTime = st.st_mtim;
    }

    HRESULT Save() {
        cachedSize = -1;  // saved or not, the next use reads what the file holds
        if (unreadable) return STG_E_READFAULT;
        json classes = json::array();
        for (const auto &[clsid, info] : fileClasses) classes.push_back(ToJson(info));
        const fs::path path = Path();
        std::error_code ec;
        if (path.has_parent_path()) fs::create_directories(path.parent_path(), ec);
        const fs::path temp = path.string() + ".tmp";
        {
            std::ofstream out(temp, std::ios::trunc);
            out << json{{"classes", classes}}.dump(2) << '\n';
            out.flush();
            if (!out) return STG_E_WRITEFAULT;
        }
        fs::rename(temp, path, ec);
        return ec ? STG_E_WRITEFAULT : S_OK;
    }

    // Loads (once) the library at `path`; null with a reason when it cannot be used.
    LoadedLibrary *Load(const std::string &path, std::string *error) {
        if (auto it = libraries.find(path); it != libraries.end()) return &it->second;
        void *handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            if (error) *error = ::dlerror();
            return nullptr;
        }
        LoadedLibrary lib;
        lib.handle = handle;
        lib.getClassObject = reinterpret_cast<DllGetClassObjectFn>(::dlsym(handle, "DllGetClassObject"));
        lib.canUnloadNow = reinterpret_cast<DllCanUnloadNowFn>(::dlsym(handle, "DllCanUnloadNow"));
        return &libraries.emplace(path, lib).first->second;
    }
};

ClassRegistry::ClassRegistry() : impl(std::make_unique<Impl>()) {}

ClassRegistry &ClassRegistry::Instance() {
    // Never destroyed: objects of loaded libraries may outlive static destruction.
    static ClassRegistry *registry = new ClassRegistry();
    return *registry;
}

void ClassRegistry::RegisterBuiltIn(const ClassRegistration &info, ClassCreator create) {
    std::lock_guard guard(impl->lock);
    impl->builtIns[info.clsid] = {info, std::move(create)};
}

void ClassRegistry::UnregisterBuiltIn(REFCLSID clsid) {
    std::lock_guard guard(impl->lock);
    impl->builtIns.erase(clsid);
}

std::optional<std::pair<ClassRegistration, ClassCreator>> ClassRegistry::BuiltIn(REFCLSID clsid) const {
    std::lock_guard guard(impl->lock);
    auto it = impl->builtIns.find(clsid);
    if (it == impl->builtIns.end()) return std::nullopt;
    return it->second;
}

std::string ClassRegistry::RegistryFilePath() const {
    std::lock_guard guard(impl->lock);
    return impl->Path();
}

void ClassRegistry::SetRegistryFilePath(const std::string &path) {
    std::lock_guard guard(impl->lock);
    impl->explicitPath = path;
    impl->cachedSize = -1;
}

HRESULT ClassRegistry::RegisterServer(const ClassRegistration &info) {
    if (info.library.empty()) return E_INVALIDARG;
    std::lock_guard guard(impl->lock);
    impl->Refresh();
    impl->fileClasses[info.clsid] = info;
    return impl->Save();
}

HRESULT ClassRegistry::UnregisterServer(REFCLSID clsid) {
    std::lock_guard guard(impl->lock);
    impl->Refresh();
    if (impl->fileClasses.erase(clsid) == 0) return S_FALSE;
    return impl->Save();
}

namespace {
std::string CanonicalPath(const std::string &path) {
    std::error_code ec;
    const fs::path canonical = fs::weakly_canonical(fs::absolute(path), ec);
    return ec ? path : canonical.string();
}
}  // namespace

HRESULT ClassRegistry::RunLibraryEntry(const std::string &path, const char *entry, std::string *error) {
    DllRegisterServerFn fn = nullptr;
    {
        std::lock_guard guard(impl->lock);
        LoadedLibrary *lib = impl->Load(CanonicalPath(path), error);
        if (!lib) return CO_E_DLLNOTFOUND;
        fn = reinterpret_cast<DllRegisterServerFn>(::dlsym(lib->handle, entry));
    }
    if (!fn) {
        if (error) *error = path + " exports no " + entry;
        return CO_E_ERRORINDLL;
    }
    // Runs unlocked: the entry point records its classes through RegisterServer.
    const HRESULT hr = fn();
    if (FAILED(hr) && error) *error = std::string(entry) + " failed: " + HResultText(hr);
    return hr;
}

HRESULT ClassRegistry::RegisterLibrary(const std::string &path, std::string *error) {
    return RunLibraryEntry(path, "DllRegisterServer", error);
}

HRESULT ClassRegistry::UnregisterLibrary(const std::string &path, std::string *error) {
    return RunLibraryEntry(path, "DllUnregisterServer", error);
}

std::optional<ClassRegistration> ClassRegistry::Find(REFCLSID clsid) const {
    std::lock_guard guard(impl->lock);
    if (auto it = impl->builtIns.find(clsid); it != impl->builtIns.end()) return it->second.first;
    impl->Refresh();
    if (auto it = impl->fileClasses.find(clsid); it != impl->fileClasses.end()) return it->second;
    return std::nullopt;
}

std::vector<ClassRegistration> ClassRegistry::ClassesInCategory(REFGUID category) const {
    std::vector<ClassRegistration> found;
    {
        std::lock_guard guard(impl->lock);
        for (const auto &[clsid, entry] : impl->builtIns)
            if (entry.first.InCategory(category)) found.push_back(entry.first);
        impl->Refresh();
        for (const auto &[clsid, info] : impl->fileClasses)
            if (info.InCategory(category) && !impl->builtIns.count(clsid)) found.push_back(info);
    }
    std::stable_sort(found.begin(), found.end(), [](const auto &a, const auto &b) {
        if (a.merit != b.merit) return a.merit > b.merit;
        return a.name < b.name;
    });
    return found;
}

HRESULT ClassRegistry::GetClassObject(REFCLSID clsid, REFIID iid, void **object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    DllGetClassObjectFn getClassObject = nullptr;
    {
        std::lock_guard guard(impl->lock);
        impl->Refresh();
        auto it = impl->fileClasses.find(clsid);
        if (it == impl->fileClasses.end()) return REGDB_E_CLASSNOTREG;
        LoadedLibrary *lib = impl->Load(it->second.library, nullptr);
        if (!lib) return CO_E_DLLNOTFOUND;
        if (!lib->getClassObject) return CO_E_ERRORINDLL;
        getClassObject = lib->getClassObject;
    }
    return getClassObject(clsid, iid, object);
}

HRESULT ClassRegistry::CreateInstance(REFCLSID clsid, IUnknown *outer, REFIID iid, void **object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    ClassCreator create;
    {
        std::lock_guard guard(impl->lock);
        if (auto it = impl->builtIns.find(clsid); it != impl->builtIns.end()) create = it->second.second;
    }
    if (create) return create(outer, iid, object);
    ComPtr<IClassFactory> factory;
    HRESULT hr = GetClassObject(clsid, IID_IClassFactory, factory.PutVoid());
    if (FAILED(hr)) return hr;
    return factory->CreateInstance(outer, iid, object);
}

void ClassRegistry::FreeUnusedLibraries() {
    std::lock_guard guard(impl->lock);
    for (auto it = impl->libraries.begin(); it != impl->libraries.end();) {
        if (it->second.canUnloadNow && it->second.canUnloadNow() == S_OK) {
            ::dlclose(it->second.handle);
            it = impl->libraries.erase(it);
        } else {
            ++it;
        }
    }
}

bool ClassRegistry::IsLibraryLoaded(const std::string &path) const {
    std::lock_guard guard(impl->lock);
    return impl->libraries.count(CanonicalPath(path)) > 0;
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown *outer, DWORD, REFIID iid, void **object) {
    return ClassRegistry::Instance().CreateInstance(clsid, outer, iid, object);
}

void CoFreeUnusedLibraries() { ClassRegistry::Instance().FreeUnusedLibraries(); }

std::string LibraryPathOf(const void *address) {
    Dl_info info{};
    if (::dladdr(address, &info) == 0 || !info.dli_fname) return {};
    std::error_code ec;
    const fs::path path = fs::canonical(info.dli_fname, ec);
    return ec ? std::string(info.dli_fname) : path.string();
}
