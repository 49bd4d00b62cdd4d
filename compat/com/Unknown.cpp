#include "compat/com/Unknown.h"

CUnknown::~CUnknown() {
    if (libraryObjects) libraryObjects->fetch_sub(1);
}

HRESULT CUnknown::NonDelegatingQueryInterface(REFIID iid, void **object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (iid == IID_IUnknown) {
        // The object's identity is always the CUnknown's own IUnknown.
        return GetInterface(static_cast<IUnknown *>(this), object);
    }
    return E_NOINTERFACE;
}

ULONG CUnknown::NonDelegatingRelease() {
    const ULONG left = refCount.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0) {
        // Guard against re-entry while the destructor releases what it holds.
        refCount.store(1, std::memory_order_relaxed);
        delete this;
    }
    return left;
}

void CUnknown::CountIn(std::atomic<long> *counter) {
    if (libraryObjects || !counter) return;
    libraryObjects = counter;
    counter->fetch_add(1);
}

#include "compat/com/ComPtr.h"

bool IsSameObject(IUnknown *a, IUnknown *b) {
    if (a == b) return true;
    if (!a || !b) return false;
    ComPtr<IUnknown> ua, ub;
    if (FAILED(a->QueryInterface(IID_IUnknown, ua.PutVoid()))) return false;
    if (FAILED(b->QueryInterface(IID_IUnknown, ub.PutVoid()))) return false;
    return ua.Get() == ub.Get();
}
