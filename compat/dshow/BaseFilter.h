#pragma once

// Base classes for filters and pins. A filter derives from CBaseFilter and answers
// GetPinCount/GetPin; its pins derive from CBaseInputPin or CBaseOutputPin and answer
// CheckMediaType/GetMediaType (and, for output pins, DecideBufferSize). The base classes do
// the state machine (stopped → paused → running, pins activated on leaving stopped and
// deactivated on stopping), connection with media-type negotiation, and allocator
// negotiation. Pins share the reference count of their filter.

#include "compat/dshow/Allocator.h"
#include "compat/dshow/Interfaces.h"
#include "compat/dshow/Locks.h"

#include <atomic>
#include <string>
#include <vector>

class CBasePin;

class CBaseFilter : public CUnknown, public IBaseFilter {
public:
    // `lock` is the filter's state lock, owned by the derived class and outliving the base.
    CBaseFilter(const char *name, CCritSec *lock, REFCLSID clsid);
    ~CBaseFilter() override;

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID iid, void **object) override;

    virtual int GetPinCount() = 0;
    // The pin at n, or null when n is out of range. No reference is added.
    virtual CBasePin *GetPin(int n) = 0;

    HRESULT GetClassID(CLSID *clsid) override;
    HRESULT Stop() override;
    HRESULT Pause() override;
    HRESULT Run(REFERENCE_TIME start) override;
    HRESULT GetState(DWORD timeoutMs, FILTER_STATE *state) override;
    HRESULT EnumPins(IEnumPins **pins) override;
    HRESULT FindPin(const char *id, IPin **pin) override;
    HRESULT QueryFilterInfo(FILTER_INFO *info) override;
    HRESULT JoinFilterGraph(IFilterGraph *graph, const char *name) override;

    // Lock-free reads of the state, for streaming threads.
    FILTER_STATE State() const { return m_State.load(std::memory_order_acquire); }
    bool IsActive() const { return State() != State_Stopped; }
    bool IsStopped() const { return State() == State_Stopped; }
    IFilterGraph *GetFilterGraph() const { return m_pGraph; }
    const std::string &Name() const { return m_Name; }
    CCritSec *StateLock() const { return m_pLock; }

protected:
    CCritSec *m_pLock;
    std::atomic<FILTER_STATE> m_State{State_Stopped};
    IFilterGraph *m_pGraph = nullptr;  // not referenced: the graph holds the filter
    std::string m_Name;
    CLSID m_clsid;
    REFERENCE_TIME m_tStart = 0;
};

class CBasePin : public CUnknown, public IPin {
public:
    // `lock` guards the pin's connection; the filter's state lock unless the pin has its own.
    // *result is set to a failure when the pin cannot be made (and left alone otherwise).
    CBasePin(CBaseFilter *filter, CCritSec *lock, HRESULT *result, const char *name, PIN_DIRECTION direction);
    ~CBasePin() override;

    HRESULT QueryInterface(REFIID iid, void **object) override { return NonDelegatingQueryInterface(iid, object); }
    ULONG AddRef() override { return m_pFilter->NonDelegatingAddRef(); }
    ULONG Release() override { return m_pFilter->NonDelegatingRelease(); }
    HRESULT NonDelegatingQueryInterface(REFIID iid, void **object) override;

    // Media types of this pin.
    virtual HRESULT CheckMediaType(const AM_MEDIA_TYPE *type) = 0;
    // Type number `position`; VFW_S_NO_MORE_ITEMS past the end.
    virtual HRESULT GetMediaType(int position, AM_MEDIA_TYPE *type);
    virtual HRESULT SetMediaType(const AM_MEDIA_TYPE *type);

    // Connection hooks.
    virtual HRESULT CheckConnect(IPin *pin);
    virtual HRESULT BreakConnect();
    virtual HRESULT CompleteConnect(IPin *receivePin);

    // State hooks, called by the filter with its state lock held.
    virtual HRESULT Active() { return S_OK; }
    virtual HRESULT Inactive() { return S_OK; }
    virtual HRESULT Run(REFERENCE_TIME) { return S_OK; }

    HRESULT Connect(IPin *receivePin, const AM_MEDIA_TYPE *type) override;
    HRESULT ReceiveConnection(IPin *connector, const AM_MEDIA_TYPE *type) override;
    HRESULT Disconnect() override;
    HRESULT ConnectedTo(IPin **pin) override;
    HRESULT ConnectionMediaType(AM_MEDIA_TYPE *type) override;
    HRESULT QueryPinInfo(PIN_INFO *info) override;
    HRESULT QueryDirection(PIN_DIRECTION *direction) override;
    HRESULT QueryId(std::string *id) override;
    HRESULT QueryAccept(const AM_MEDIA_TYPE *type) override;
    HRESULT EnumMediaTypes(IEnumMediaTypes **types) override;
    HRESULT EndOfStream() override { return S_OK; }
    HRESULT BeginFlush() override = 0;
    HRESULT EndFlush() override = 0;
    HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

    bool IsConnected() const { return m_bConnected.load(std::memory_order_acquire); }
    // The connected pin (no reference added), or null.
    IPin *GetConnected() const {
        std::lock_guard guard(m_connectionLock);
        return m_Connected.Get();
    }
    bool IsStopped() const { return m_pFilter->IsStopped(); }
    const AM_MEDIA_TYPE &CurrentMediaType() const { return m_mt; }
    const std::string &Name() const { return m_Name; }
    void SetName(const char *name) { m_Name = name ? name : ""; }
    PIN_DIRECTION Direction() const { return m_dir; }
    CBaseFilter *Filter() const { return m_pFilter; }

protected:
    HRESULT AgreeMediaType(IPin *receivePin, const AM_MEDIA_TYPE *pattern);
    HRESULT TryTypesOf(IPin *enumerated, IPin *receivePin, const AM_MEDIA_TYPE *pattern);
    HRESULT AttemptConnection(IPin *receivePin, const AM_MEDIA_TYPE &type);
    void SetConnected(IPin *pin);

    CBaseFilter *m_pFilter;
    CCritSec *m_pLock;
    std::string m_Name;
    PIN_DIRECTION m_dir;
    ComPtr<IPin> m_Connected;
    std::atomic<bool> m_bConnected{false};
    // Guards m_Connected for readers that must not wait for a delivery holding the pin lock
    // (the graph asks for connections while it stops).
    mutable std::mutex m_connectionLock;
    AM_MEDIA_TYPE m_mt;
};

class CBaseOutputPin : public CBasePin {
public:
    CBaseOutputPin(CBaseFilter *filter, CCritSec *lock, HRESULT *result, const char *name);

    // Sets the buffer count and size on the allocator the connection will use.
    virtual HRESULT DecideBufferSize(IMemAllocator *allocator, ALLOCATOR_PROPERTIES *request) = 0;
    // Uses the input pin's allocator when it has one, else one of our own.
    virtual HRESULT DecideAllocator(IMemInputPin *input, IMemAllocator **allocator);

    HRESULT CheckConnect(IPin *pin) override;
    HRESULT CompleteConnect(IPin *receivePin) override;
    HRESULT BreakConnect() override;
    HRESULT Active() override;    // commits the allocator
    HRESULT Inactive() override;  // decommits it, waking every blocked GetDeliveryBuffer

    HRESULT GetDeliveryBuffer(IMediaSample **sample, REFERENCE_TIME *start, REFERENCE_TIME *stop, DWORD flags);
    // Passes the sample to the connected input pin on this thread.
    virtual HRESULT Deliver(IMediaSample *sample);
    virtual HRESULT DeliverEndOfStream();
    virtual HRESULT DeliverBeginFlush();
    virtual HRESULT DeliverEndFlush();

    HRESULT EndOfStream() override { return E_UNEXPECTED; }
    HRESULT BeginFlush() override { return E_UNEXPECTED; }
    HRESULT EndFlush() override { return E_UNEXPECTED; }

    IMemAllocator *Allocator() const { return m_pAllocator.Get(); }

protected:
    ComPtr<IMemAllocator> m_pAllocator;
    ComPtr<IMemInputPin> m_pInputPin;
};

class CBaseInputPin : public CBasePin, public IMemInputPin {
public:
    CBaseInputPin(CBaseFilter *filter, CCritSec *lock, HRESULT *result, const char *name);

    HRESULT QueryInterface(REFIID iid, void **object) override { return NonDelegatingQueryInterface(iid, object); }
    ULONG AddRef() override { return m_pFilter->NonDelegatingAddRef(); }
    ULONG Release() override { return m_pFilter->NonDelegatingRelease(); }
    HRESULT NonDelegatingQueryInterface(REFIID iid, void **object) override;

    HRESULT GetAllocator(IMemAllocator **allocator) override;
    HRESULT NotifyAllocator(IMemAllocator *allocator, BOOL readOnly) override;
    HRESULT GetAllocatorRequirements(ALLOCATOR_PROPERTIES *) override { return E_NOTIMPL; }
    // Checks that the pin may stream now; derived pins call it first.
    HRESULT Receive(IMediaSample *sample) override;
    HRESULT ReceiveMultiple(IMediaSample **samples, LONG count, LONG *processed) override;
    HRESULT ReceiveCanBlock() override { return S_OK; }

    HRESULT BeginFlush() override;
    HRESULT EndFlush() override;
    HRESULT BreakConnect() override;
    HRESULT Inactive() override;

    bool IsFlushing() const { return m_bFlushing.load(); }
    bool IsReadOnly() const { return m_bReadOnly; }
    IMemAllocator *Allocator() const { return m_pAllocator.Get(); }

protected:
    HRESULT CheckStreaming();

    ComPtr<IMemAllocator> m_pAllocator;
    bool m_bReadOnly = false;
    std::atomic<bool> m_bFlushing{false};
};

// Enumerates a snapshot of a filter's pins.
HRESULT CreatePinEnumerator(CBaseFilter *filter, IEnumPins **pins);
// Enumerates a snapshot of the types of a pin (GetMediaType 0, 1, … until it stops).
HRESULT CreateMediaTypeEnumerator(CBasePin *pin, IEnumMediaTypes **types);
// The same for a fixed list (device filters with a known format list).
HRESULT CreateMediaTypeEnumerator(const std::vector<AM_MEDIA_TYPE> &list, IEnumMediaTypes **types);
