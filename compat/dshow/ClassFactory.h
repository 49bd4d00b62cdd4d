#pragma once

// Class factories and self-registration for filter libraries. A library lists its classes
// in a table of CFactoryTemplate and exports the four entry points with
// SC_FILTER_LIBRARY_ENTRY_POINTS(table, count):
//
//   CFactoryTemplate g_Templates[] = {
//       {"My Filter", &CLSID_MyFilter, &CMyFilter::CreateInstance, &sudMyFilter},
//       {"My Page", &CLSID_MyPage, &CMyPage::CreateInstance, nullptr},
//   };
//   SC_FILTER_LIBRARY_ENTRY_POINTS(g_Templates, 2)
//
// DllRegisterServer records each class (with the library's own path) in the registry file,
// filters with their merit and pin types in the filter category; DllCanUnloadNow says S_OK
// once no object and no factory of the library is alive and no lock is held.

#include "compat/com/ClassRegistry.h"
#include "compat/dshow/Interfaces.h"

#include <atomic>

struct AMOVIESETUP_MEDIATYPE {
    const GUID *clsMajorType;
    const GUID *clsMinorType;  // null or GUID_NULL: any
};

struct AMOVIESETUP_PIN {
    const char *strName;
    BOOL bRendered;
    BOOL bOutput;
    BOOL bZero;
    BOOL bMany;
    const CLSID *clsConnectsToFilter;
    const char *strConnectsToPin;
    uint32_t nMediaTypes;
    const AMOVIESETUP_MEDIATYPE *lpMediaType;
};

struct AMOVIESETUP_FILTER {
    const CLSID *clsID;
    const char *strName;
    DWORD dwMerit;
    uint32_t nPins;
    const AMOVIESETUP_PIN *lpPin;
};

// Makes one object; returns it with no reference held, or null with *result set.
using LPFNNewCOMObject = CUnknown *(*)(IUnknown *outer, HRESULT *result);

struct CFactoryTemplate {
    const char *m_Name;
    const CLSID *m_ClsID;
    LPFNNewCOMObject m_lpfnNew;
    const AMOVIESETUP_FILTER *m_pAMovieSetup_Filter;  // null for classes that are not filters
};

// Per-library bookkeeping for DllCanUnloadNow.
struct LibraryObjectCount {
    std::atomic<long> objects{0};
    std::atomic<long> locks{0};
};

class CClassFactory final : public CUnknown, public IClassFactory {
public:
    CClassFactory(const CFactoryTemplate *entry, LibraryObjectCount *count);
    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID iid, void **object) override;
    HRESULT CreateInstance(IUnknown *outer, REFIID iid, void **object) override;
    HRESULT LockServer(BOOL lock) override;

private:
    const CFactoryTemplate *m_pTemplate;
    LibraryObjectCount *m_pCount;
};

// The registration record of a template (categories, merit, pin types) for `library`.
ClassRegistration RegistrationOf(const CFactoryTemplate &entry, const std::string &library);

// Registers (or removes) every class of the table in the registry file; `addressInLibrary`
// is any address inside the calling library, which names the library file.
HRESULT AMovieDllRegisterServer2(BOOL doRegister, const CFactoryTemplate *templates, int count,
                                 const void *addressInLibrary);
HRESULT AMovieDllGetClassObject(const CFactoryTemplate *templates, int count, LibraryObjectCount *libraryCount,
                                REFCLSID clsid, REFIID iid, void **object);
HRESULT AMovieDllCanUnloadNow(const LibraryObjectCount *libraryCount);

// Registers the table's classes as built-in classes of the running process (for filters
// linked into the program rather than loaded from a library).
void RegisterBuiltInTemplates(const CFactoryTemplate *templates, int count);

#define SC_FILTER_LIBRARY_ENTRY_POINTS(templates, count)                                               \
    static LibraryObjectCount sc_libraryObjectCount;                                                   \
    extern "C" __attribute__((visibility("default"))) HRESULT DllRegisterServer() {                    \
        return AMovieDllRegisterServer2(1, templates, count, reinterpret_cast<const void *>(&DllRegisterServer)); \
    }                                                                                                  \
    extern "C" __attribute__((visibility("default"))) HRESULT DllUnregisterServer() {                  \
        return AMovieDllRegisterServer2(0, templates, count, reinterpret_cast<const void *>(&DllRegisterServer)); \
    }                                                                                                  \
    extern "C" __attribute__((visibility("default"))) HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid, \
                                                                                 void **object) {      \
        return AMovieDllGetClassObject(templates, count, &sc_libraryObjectCount, clsid, iid, object);  \
    }                                                                                                  \
    extern "C" __attribute__((visibility("default"))) HRESULT DllCanUnloadNow() {                      \
        return AMovieDllCanUnloadNow(&sc_libraryObjectCount);                                          \
    }
