#pragma once

#include "compat/com/Guid.h"
#include "compat/com/HResult.h"

#include <atomic>
#include <new>
#include <utility>

// Every interface names its identifier once, through SC_INTERFACE_ID at global scope (not
// inside a namespace), so that typed helpers (ComPtr::As, CoCreate<T>) find it as IidOf<T>().
template <class Interface>
struct InterfaceId;

template <class Interface>
constexpr const IID &IidOf() {
    return InterfaceId<Interface>::value;
}

#define SC_INTERFACE_ID(Interface, text)                       \
    struct Interface;                                          \
    inline constexpr IID IID_##Interface = MakeGuid(text);     \
    template <>                                                \
    struct InterfaceId<Interface> {                            \
        static constexpr const IID &value = IID_##Interface;   \
    };

SC_INTERFACE_ID(IUnknown, "{00000000-0000-0000-C000-000000000046}")
struct IUnknown {
    virtual HRESULT QueryInterface(REFIID iid, void **object) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    virtual ~IUnknown() = default;
};

SC_INTERFACE_ID(IClassFactory, "{00000001-0000-0000-C000-000000000046}")
struct IClassFactory : IUnknown {
    virtual HRESULT CreateInstance(IUnknown *outer, REFIID iid, void **object) = 0;
    virtual HRESULT LockServer(BOOL lock) = 0;
};

SC_INTERFACE_ID(IPersist, "{0000010C-0000-0000-C000-000000000046}")
struct IPersist : IUnknown {
    virtual HRESULT GetClassID(CLSID *clsid) = 0;
};

// Hands out `object` as the requested interface pointer with one reference added.
template <class Interface>
HRESULT GetInterface(Interface *object, void **out) {
    if (!out) return E_POINTER;
    *out = object;
    object->AddRef();
    return S_OK;
}

// Reference counting shared by every object of the layer. Objects start with no reference:
// the first owner (a smart pointer, a graph) takes it. The count is atomic because pins,
// samples and filters are referenced from several streaming threads at once.
class CUnknown : public IUnknown {
public:
    CUnknown() = default;
    CUnknown(const CUnknown &) = delete;
    CUnknown &operator=(const CUnknown &) = delete;
    virtual ~CUnknown();

    virtual HRESULT NonDelegatingQueryInterface(REFIID iid, void **object);
    ULONG NonDelegatingAddRef() { return refCount.fetch_add(1, std::memory_order_relaxed) + 1; }
    virtual ULONG NonDelegatingRelease();

    // Counts this object as alive in a library's object counter until it is destroyed, so
    // that the library's DllCanUnloadNow answers "not yet" while it has objects.
    void CountIn(std::atomic<long> *libraryObjects);

    HRESULT QueryInterface(REFIID iid, void **object) override { return NonDelegatingQueryInterface(iid, object); }
    ULONG AddRef() override { return NonDelegatingAddRef(); }
    ULONG Release() override { return NonDelegatingRelease(); }

protected:
    std::atomic<ULONG> refCount{0};

private:
    std::atomic<long> *libraryObjects = nullptr;
};

// The IUnknown methods of a class that derives from CUnknown and from further interfaces
// (each of which brings its own IUnknown to override).
#define DECLARE_IUNKNOWN                                                              \
    HRESULT QueryInterface(REFIID iid, void **object) override {                      \
        return NonDelegatingQueryInterface(iid, object);                              \
    }                                                                                 \
    ULONG AddRef() override { return NonDelegatingAddRef(); }                         \
    ULONG Release() override { return NonDelegatingRelease(); }

// Hands a new object (no references yet) out as `iid`; without that interface the object goes.
inline HRESULT HandOutNew(CUnknown *instance, REFIID iid, void **object) {
    instance->NonDelegatingAddRef();
    const HRESULT hr = instance->NonDelegatingQueryInterface(iid, object);
    instance->NonDelegatingRelease();
    return hr;
}

// Creates a T (a CUnknown) from `args` and returns it as `iid`.
template <class T, class... Args>
HRESULT CreateComObject(REFIID iid, void **object, Args &&...args) {
    if (!object) return E_POINTER;
    *object = nullptr;
    T *instance = new (std::nothrow) T(std::forward<Args>(args)...);
    if (!instance) return E_OUTOFMEMORY;
    return HandOutNew(instance, iid, object);
}

// A class creator for a T that cannot be aggregated.
template <class T>
HRESULT CreateUnaggregated(IUnknown *outer, REFIID iid, void **object) {
    return outer ? CLASS_E_NOAGGREGATION : CreateComObject<T>(iid, object);
}
