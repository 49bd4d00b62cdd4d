#include "compat/dshow/ClassFactory.h"

#include "compat/dshow/Uuids.h"

CClassFactory::CClassFactory(const CFactoryTemplate *entry, LibraryObjectCount *count)
    : m_pTemplate(entry), m_pCount(count) {
    if (m_pCount) CountIn(&m_pCount->objects);
}

HRESULT CClassFactory::NonDelegatingQueryInterface(REFIID iid, void **object) {
    if (iid == IID_IClassFactory) return GetInterface(static_cast<IClassFactory *>(this), object);
    return CUnknown::NonDelegatingQueryInterface(iid, object);
}

HRESULT CClassFactory::CreateInstance(IUnknown *outer, REFIID iid, void **object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    HRESULT hr = S_OK;
    CUnknown *instance = m_pTemplate->m_lpfnNew(nullptr, &hr);
    if (!instance) return FAILED(hr) ? hr : E_OUTOFMEMORY;
    if (m_pCount) instance->CountIn(&m_pCount->objects);
    if (FAILED(hr)) {
        delete instance;
        return hr;
    }
    return HandOutNew(instance, iid, object);
}

HRESULT CClassFactory::LockServer(BOOL lock) {
    if (m_pCount) {
        if (lock) m_pCount->locks.fetch_add(1);
        else m_pCount->locks.fetch_sub(1);
    }
    return S_OK;
}

ClassRegistration RegistrationOf(const CFactoryTemplate &entry, const std::string &library) {
    ClassRegistration info;
    info.clsid = *entry.m_ClsID;
    info.name = entry.m_Name ? entry.m_Name : "";
    info.library = library;
    if (const AMOVIESETUP_FILTER *setup = entry.m_pAMovieSetup_Filter) {
        if (setup->strName) info.name = setup->strName;
        info.merit = setup->dwMerit;
        info.categories.push_back(CLSID_LegacyAmFilterCategory);
        for (uint32_t p = 0; p < setup->nPins; ++p) {
            const AMOVIESETUP_PIN &pin = setup->lpPin[p];
            auto &types = pin.bOutput ? info.outputTypes : info.inputTypes;
            for (uint32_t t = 0; t < pin.nMediaTypes; ++t) {
                const AMOVIESETUP_MEDIATYPE &mt = pin.lpMediaType[t];
                types.push_back({mt.clsMajorType ? *mt.clsMajorType : GUID_NULL,
                                 mt.clsMinorType ? *mt.clsMinorType : GUID_NULL});
            }
        }
    }
    return info;
}

HRESULT AMovieDllRegisterServer2(BOOL doRegister, const CFactoryTemplate *templates, int count,
                                 const void *addressInLibrary) {
    if (!templates || count < 0) return E_POINTER;
    const std::string library = LibraryPathOf(addressInLibrary);
    if (library.empty()) return E_FAIL;
    auto &registry = ClassRegistry::Instance();
    HRESULT result = S_OK;
    for (int i = 0; i < count; ++i) {
        const HRESULT hr = doRegister ? registry.RegisterServer(RegistrationOf(templates[i], library))
                                      : registry.UnregisterServer(*templates[i].m_ClsID);
        if (FAILED(hr)) result = doRegister ? SELFREG_E_CLASS : hr;
    }
    return result;
}

HRESULT AMovieDllGetClassObject(const CFactoryTemplate *templates, int count, LibraryObjectCount *libraryCount,
                                REFCLSID clsid, REFIID iid, void **object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (iid != IID_IUnknown && iid != IID_IClassFactory) return E_NOINTERFACE;
    for (int i = 0; i < count; ++i) {
        if (*templates[i].m_ClsID != clsid) continue;
        return CreateComObject<CClassFactory>(iid, object, &templates[i], libraryCount);
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT AMovieDllCanUnloadNow(const LibraryObjectCount *libraryCount) {
    if (!libraryCount) return S_FALSE;
    return libraryCount->objects.load() == 0 && libraryCount->locks.load() == 0 ? S_OK : S_FALSE;
}

void RegisterBuiltInTemplates(const CFactoryTemplate *templates, int count) {
    for (int i = 0; i < count; ++i) {
        const CFactoryTemplate *entry = &templates[i];
        ClassRegistry::Instance().RegisterBuiltIn(
            RegistrationOf(*entry, ""), [entry](IUnknown *outer, REFIID iid, void **object) -> HRESULT {
                if (!object) return E_POINTER;
                *object = nullptr;
                if (outer) return CLASS_E_NOAGGREGATION;
                HRESULT hr = S_OK;
                CUnknown *instance = entry->m_lpfnNew(nullptr, &hr);
                if (!instance) return FAILED(hr) ? hr : E_OUTOFMEMORY;
                if (FAILED(hr)) {
                    delete instance;
                    return hr;
                }
                return HandOutNew(instance, iid, object);
            });
    }
}
