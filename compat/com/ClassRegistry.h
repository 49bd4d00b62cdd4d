#pragma once

#include "compat/com/ComPtr.h"

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// Creation contexts; the layer has only in-process servers, so every value means the same.
inline constexpr DWORD CLSCTX_INPROC_SERVER = 1;
inline constexpr DWORD CLSCTX_INPROC_HANDLER = 2;
inline constexpr DWORD CLSCTX_INPROC = 3;

// Merit values of the filter mapper; intelligent connection uses classes above DO_NOT_USE.
inline constexpr uint32_t MERIT_PREFERRED = 0x800000;
inline constexpr uint32_t MERIT_NORMAL = 0x600000;
inline constexpr uint32_t MERIT_UNLIKELY = 0x400000;
inline constexpr uint32_t MERIT_DO_NOT_USE = 0x200000;

// One media type a registered filter's pin handles; GUID_NULL matches any.
struct RegisteredMediaType {
    GUID majorType;
    GUID subType;
    bool operator==(const RegisteredMediaType &) const = default;
};

// What the registry knows of a class: how it is named, where it lives and, for filters, the
// categories it belongs to, its merit and the media types of its pins.
struct ClassRegistration {
    CLSID clsid;
    std::string name;
    std::string library;  // absolute path of the shared library; empty for a built-in class
    std::string threadingModel = "Both";
    uint32_t merit = 0;
    std::vector<GUID> categories;
    std::vector<RegisteredMediaType> inputTypes;
    std::vector<RegisteredMediaType> outputTypes;

    bool InCategory(REFGUID category) const;
};

using ClassCreator = std::function<HRESULT(IUnknown *outer, REFIID iid, void **object)>;

// Entry points a shared library exports, as extern "C" functions of these names.
using DllGetClassObjectFn = HRESULT (*)(REFCLSID clsid, REFIID iid, void **object);
using DllCanUnloadNowFn = HRESULT (*)();
using DllRegisterServerFn = HRESULT (*)();

// Creates objects by class identifier. Classes come from two places:
//  - built-in classes, registered in code by the libraries of the process at start;
//  - classes of shared libraries, recorded in the registry file by the library's own
//    DllRegisterServer (run through RegisterLibrary or the regsvr tool).
// The registry file is JSON. Its path is, in this order: SetRegistryFilePath, the environment
// variable STUDIOCAST_COM_REGISTRY, $XDG_DATA_HOME/studiocast/com-registry.json,
// ~/.local/share/studiocast/com-registry.json. A library is loaded on its first object and
// unloaded only by FreeUnusedLibraries when its DllCanUnloadNow says S_OK.
class ClassRegistry {
public:
    static ClassRegistry &Instance();

    void RegisterBuiltIn(const ClassRegistration &info, ClassCreator create);
    void UnregisterBuiltIn(REFCLSID clsid);
    // A built-in class's registration and creator (to put it back after a test removed it).
    std::optional<std::pair<ClassRegistration, ClassCreator>> BuiltIn(REFCLSID clsid) const;

    std::string RegistryFilePath() const;
    void SetRegistryFilePath(const std::string &path);

    // Record or remove a library's class in the registry file. info.library must be set.
    HRESULT RegisterServer(const ClassRegistration &info);
    HRESULT UnregisterServer(REFCLSID clsid);

    // Loads the library and runs its DllRegisterServer / DllUnregisterServer.
    HRESULT RegisterLibrary(const std::string &path, std::string *error = nullptr);
    HRESULT UnregisterLibrary(const std::string &path, std::string *error = nullptr);

    std::optional<ClassRegistration> Find(REFCLSID clsid) const;
    // Built-in and file classes of a category, highest merit first.
    std::vector<ClassRegistration> ClassesInCategory(REFGUID category) const;

    HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void **object);
    HRESULT CreateInstance(REFCLSID clsid, IUnknown *outer, REFIID iid, void **object);

    // Unloads every loaded library whose DllCanUnloadNow returns S_OK.
    void FreeUnusedLibraries();
    bool IsLibraryLoaded(const std::string &path) const;

    struct Impl;

private:
    ClassRegistry();
    HRESULT RunLibraryEntry(const std::string &path, const char *entry, std::string *error);
    std::unique_ptr<Impl> impl;
};

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown *outer, DWORD context, REFIID iid, void **object);
void CoFreeUnusedLibraries();

// Typed form: CoCreate<IBaseFilter>(CLSID_NullRenderer, &filter).
template <class Interface>
HRESULT CoCreate(REFCLSID clsid, ComPtr<Interface> *out) {
    if (!out) return E_POINTER;
    return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC, IidOf<Interface>(), out->PutVoid());
}

// The absolute path of the shared library (or program) that contains `address`.
std::string LibraryPathOf(const void *address);

// Registers a built-in class at load time of the library that contains it. Use it only in a
// shared library or an object linked whole: a static library drops unreferenced objects.
struct BuiltInClassRegistrar {
    BuiltInClassRegistrar(const ClassRegistration &info, ClassCreator create) {
        ClassRegistry::Instance().RegisterBuiltIn(info, std::move(create));
    }
};
