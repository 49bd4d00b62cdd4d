#pragma once

// A source filter through which code outside a graph pushes frames into it. Each frame
// handed to DeliverBuffer is copied into a sample of the pin's one-buffer allocator and
// passed downstream at once on the caller's thread.
//
// Lifetime: the graph owns the filter. A caller that delivers from another thread holds its
// own reference (ComPtr) or stops delivering before the graph is released. Stopping the
// filter waits for deliveries in progress and makes later ones return at once.

#include "compat/dshow/BaseFilter.h"

#include <atomic>
#include <memory>
#include <shared_mutex>
#include <vector>

inline constexpr CLSID CLSID_DeliverSource = MakeGuid("{891A04F1-BD06-4660-BE42-0C66FD85E137}");

SC_INTERFACE_ID(IDeliverControl, "{B7267440-7E6E-4489-8B7E-74EC9C17FAB2}")
struct IDeliverControl : IUnknown {
    virtual HRESULT SetPinCount(int count) = 0;
    virtual HRESULT SetPin(int index, const char *name, const AM_MEDIA_TYPE *type) = 0;
    // S_OK when the frame went downstream, S_FALSE when it was dropped (filter stopped, pin
    // missing, unconnected or inactive), a failure for a frame that cannot be delivered.
    virtual HRESULT DeliverBuffer(int pin, const BYTE *buffer, LONG length, BOOL syncPoint) = 0;
};

// Frame duration given to a video type that has none (40 ms); buffer size for formats whose
// size is unknown.
inline constexpr REFERENCE_TIME DefaultFrameDuration = 400000;
inline constexpr LONG DefaultPushBufferSize = 0x80000;

class TDeliverSource;

class TPushPin final : public CBaseOutputPin {
public:
    TPushPin(TDeliverSource *filter, HRESULT *result);

    // Accepts any type of the pin's major type.
    HRESULT CheckMediaType(const AM_MEDIA_TYPE *type) override;
    HRESULT GetMediaType(int position, AM_MEDIA_TYPE *type) override;
    // Normalises a video type (frame duration 0 → 40 ms; image size from width, |height| and
    // bit count) and stores it. VFW_E_INVALIDMEDIATYPE for a video type with a short format
    // block.
    HRESULT SetMediaType(const AM_MEDIA_TYPE *type) override;
    HRESULT DecideBufferSize(IMemAllocator *allocator, ALLOCATOR_PROPERTIES *request) override;
    HRESULT Active() override;
    HRESULT Inactive() override;
    HRESULT BeginFlush() override { return S_OK; }
    HRESULT EndFlush() override { return S_OK; }

    // Copies the frame into a sample and delivers it. A frame larger than the sample's buffer
    // is dropped (VFW_E_BUFFER_OVERFLOW); the sample carries exactly `length` bytes. The first
    // failure of each run goes to the log.
    HRESULT DeliverBuffer(const BYTE *buffer, LONG length, BOOL syncPoint);

    bool IsPinActive() const { return m_active.load(std::memory_order_acquire); }
    void ClearActive() { m_active.store(false, std::memory_order_release); }

private:
    friend class TDeliverSource;
    // With the delivery gate held (shared).
    HRESULT DeliverGated(const BYTE *buffer, LONG length, BOOL syncPoint);
    HRESULT CopyAndDeliver(const BYTE *buffer, LONG length, BOOL syncPoint);
    void ReportDeliveryFailure(HRESULT result);

    CCritSec m_PinLock;
    std::atomic<bool> m_active{false};
    std::atomic<bool> m_failureReported{false};  // in this run
    // Deliveries hold it shared; deactivation takes it exclusively, so that it returns only
    // when no delivery is in progress.
    std::shared_mutex m_deliveryGate;
};

class TDeliverSource final : public CBaseFilter,
                             public IAMFilterMiscFlags,
                             public ISpecifyPropertyPages,
                             public IDeliverControl {
public:
    // One pin "Out" with an empty media type. Raises EDirectShowError
    // ("TPushPin.Create failed.") when the pin cannot be made.
    explicit TDeliverSource(const char *name);
    ~TDeliverSource() override;

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID iid, void **object) override;

    int GetPinCount() override;
    CBasePin *GetPin(int n) override;
    HRESULT Pause() override;

    ULONG GetMiscFlags() override { return AM_FILTER_MISC_FLAGS_IS_SOURCE; }
    HRESULT GetPages(CAUUID *) override { return E_NOTIMPL; }

    HRESULT SetPinCount(int count) override;
    HRESULT SetPin(int index, const char *name, const AM_MEDIA_TYPE *type) override;
    HRESULT DeliverBuffer(int pin, const BYTE *buffer, LONG length, BOOL syncPoint) override;

    TPushPin *CreatePin();
    TPushPin *PushPin(int index);

private:
    void RemoveLastPin();

    CCritSec m_FilterLock;
    std::vector<std::unique_ptr<TPushPin>> m_Pins;
};
