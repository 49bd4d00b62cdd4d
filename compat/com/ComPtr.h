#pragma once

#include "compat/com/Unknown.h"

#include <utility>

// An owning interface pointer: adds a reference when it takes a pointer, releases on reset.
template <class T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    ComPtr(T *p) : ptr(p) {
        if (ptr) ptr->AddRef();
    }
    ComPtr(const ComPtr &other) : ComPtr(other.ptr) {}
    ComPtr(ComPtr &&other) noexcept : ptr(std::exchange(other.ptr, nullptr)) {}
    template <class U>
    ComPtr(const ComPtr<U> &other) : ComPtr(static_cast<T *>(other.Get())) {}
    ~ComPtr() { Reset(); }

    ComPtr &operator=(const ComPtr &other) {
        ComPtr(other).Swap(*this);
        return *this;
    }
    ComPtr &operator=(ComPtr &&other) noexcept {
        ComPtr(std::move(other)).Swap(*this);
        return *this;
    }
    ComPtr &operator=(T *p) {
        ComPtr(p).Swap(*this);
        return *this;
    }
    ComPtr &operator=(std::nullptr_t) {
        Reset();
        return *this;
    }

    T *Get() const { return ptr; }
    T *operator->() const { return ptr; }
    T &operator*() const { return *ptr; }
    explicit operator bool() const { return ptr != nullptr; }

    void Reset() {
        if (T *old = std::exchange(ptr, nullptr)) old->Release();
    }
    void Swap(ComPtr &other) noexcept { std::swap(ptr, other.ptr); }

    // Takes over a pointer that already carries a reference for us.
    void Attach(T *p) {
        Reset();
        ptr = p;
    }
    T *Detach() { return std::exchange(ptr, nullptr); }

    // For out-parameters: releases what is held and hands out the slot.
    T **Put() {
        Reset();
        return &ptr;
    }
    void **PutVoid() { return reinterpret_cast<void **>(Put()); }

    template <class U>
    HRESULT As(ComPtr<U> *out) const {
        if (!out) return E_POINTER;
        if (!ptr) {
            out->Reset();
            return E_POINTER;
        }
        return ptr->QueryInterface(IidOf<U>(), out->PutVoid());
    }
    template <class U>
    ComPtr<U> As() const {
        ComPtr<U> out;
        As(&out);
        return out;
    }

    // Hands the pointer out with a reference of its own.
    HRESULT CopyTo(T **out) const {
        if (!out) return E_POINTER;
        *out = ptr;
        if (ptr) ptr->AddRef();
        return S_OK;
    }

    friend bool operator==(const ComPtr &a, const ComPtr &b) { return a.ptr == b.ptr; }
    friend bool operator==(const ComPtr &a, std::nullptr_t) { return a.ptr == nullptr; }

private:
    T *ptr = nullptr;
};

// Whether two interface pointers belong to one object (COM identity through IUnknown).
bool IsSameObject(IUnknown *a, IUnknown *b);
