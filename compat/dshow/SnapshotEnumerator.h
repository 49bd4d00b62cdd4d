#pragma once

#include "compat/com/ComPtr.h"
#include "compat/com/Unknown.h"

#include <vector>

// An enumerator (IEnumPins, IEnumFilters, IEnumMoniker, ...) over a snapshot of interface
// pointers taken when it was made, so that it stays valid while its source changes.
template <class Interface, class EnumInterface>
class SnapshotEnumerator final : public CUnknown, public EnumInterface {
public:
    explicit SnapshotEnumerator(std::vector<ComPtr<Interface>> items) : items(std::move(items)) {}
    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID iid, void **object) override {
        if (iid == IidOf<EnumInterface>()) return GetInterface(static_cast<EnumInterface *>(this), object);
        return CUnknown::NonDelegatingQueryInterface(iid, object);
    }
    HRESULT Next(ULONG count, Interface **out, ULONG *fetched) override {
        if (!out) return E_POINTER;
        if (count > 1 && !fetched) return E_INVALIDARG;
        ULONG n = 0;
        while (n < count && position < items.size()) items[position++].CopyTo(&out[n++]);
        if (fetched) *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    HRESULT Skip(ULONG count) override {
        position += count;
        if (position > items.size()) {
            position = items.size();
            return S_FALSE;
        }
        return S_OK;
    }
    HRESULT Reset() override {
        position = 0;
        return S_OK;
    }
    HRESULT Clone(EnumInterface **clone) override {
        if (!clone) return E_POINTER;
        auto *copy = new SnapshotEnumerator(items);
        copy->position = position;
        return copy->NonDelegatingQueryInterface(IidOf<EnumInterface>(), reinterpret_cast<void **>(clone));
    }

private:
    std::vector<ComPtr<Interface>> items;
    size_t position = 0;
};

// Makes a snapshot enumerator over `items` and hands it out as `out`.
template <class Interface, class EnumInterface>
HRESULT MakeSnapshotEnumerator(std::vector<ComPtr<Interface>> items, EnumInterface **out) {
    return CreateComObject<SnapshotEnumerator<Interface, EnumInterface>>(
        IidOf<EnumInterface>(), reinterpret_cast<void **>(out), std::move(items));
}
