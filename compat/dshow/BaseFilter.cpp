#include "compat/dshow/BaseFilter.h"

#include "compat/dshow/SnapshotEnumerator.h"

#include <cstring>

// ---------------------------------------------------------------------------------------------
// Enumerators over snapshots.

namespace {


class MediaTypeEnumerator final : public CUnknown, public IEnumMediaTypes {
public:
    explicit MediaTypeEnumerator(std::vector<AM_MEDIA_TYPE> types) : types(std::move(types)) {}
    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID iid, void **object) override {
        if (iid == IID_IEnumMediaTypes) return GetInterface(static_cast<IEnumMediaTypes *>(this), object);
        return CUnknown::NonDelegatingQueryInterface(iid, object);
    }
    HRESULT Next(ULONG count, AM_MEDIA_TYPE **out, ULONG *fetched) override {
        if (!out) return E_POINTER;
        if (count > 1 && !fetched) return E_INVALIDARG;
        ULONG n = 0;
        while (n < count && position < types.size()) {
            out[n] = CreateMediaType(&types[position++]);
            if (!out[n]) break;
            ++n;
        }
        if (fetched) *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    HRESULT Skip(ULONG count) override {
        position += count;
        if (position > types.size()) {
            position = types.size();
            return S_FALSE;
        }
        return S_OK;
    }
    HRESULT Reset() override {
        position = 0;
        return S_OK;
    }
    HRESULT Clone(IEnumMediaTypes **clone) override {
        if (!clone) return E_POINTER;
        auto *copy = new MediaTypeEnumerator(types);
        copy->position = position;
        return copy->NonDelegatingQueryInterface(IID_IEnumMediaTypes, reinterpret_cast<void **>(clone));
    }

private:
    std::vector<AM_MEDIA_TYPE> types;
    size_t position = 0;
};

}  // namespace

HRESULT CreatePinEnumerator(CBaseFilter *filter, IEnumPins **pins) {
    std::vector<ComPtr<IPin>> list;
    {
        CAutoLock guard(*filter->StateLock());
        for (int i = 0, n = filter->GetPinCount(); i < n; ++i)
            if (CBasePin *pin = filter->GetPin(i)) list.emplace_back(static_cast<IPin *>(pin));
    }
    return MakeSnapshotEnumerator(std::move(list), pins);
}

HRESULT CreateMediaTypeEnumerator(CBasePin *pin, IEnumMediaTypes **types) {
    std::vector<AM_MEDIA_TYPE> list;
    for (int i = 0; i < 4096; ++i) {
        AM_MEDIA_TYPE type;
        if (pin->GetMediaType(i, &type) != S_OK) break;
        list.push_back(std::move(type));
    }
    return CreateComObject<MediaTypeEnumerator>(IID_IEnumMediaTypes, reinterpret_cast<void **>(types),
                                                std::move(list));
}

HRESULT CreateMediaTypeEnumerator(const std::vector<AM_MEDIA_TYPE> &list, IEnumMediaTypes **types) {
    return CreateComObject<MediaTypeEnumerator>(IID_IEnumMediaTypes, reinterpret_cast<void **>(types), list);
}

// ---------------------------------------------------------------------------------------------
// CBaseFilter

CBaseFilter::CBaseFilter(const char *name, CCritSec *lock, REFCLSID clsid)
    : m_pLock(lock), m_Name(name ? name : ""), m_clsid(clsid) {}

CBaseFilter::~CBaseFilter() = default;

HRESULT CBaseFilter::NonDelegatingQueryInterface(REFIID iid, void **object) {
    if (iid == IID_IBaseFilter || iid == IID_IMediaFilter || iid == IID_IPersist)
        return GetInterface(static_cast<IBaseFilter *>(this), object);
    return CUnknown::NonDelegatingQueryInterface(iid, object);
}

HRESULT CBaseFilter::GetClassID(CLSID *clsid) {
    if (!clsid) return E_POINTER;
    *clsid = m_clsid;
    return S_OK;
}

HRESULT CBaseFilter::Stop() {
    CAutoLock guard(*m_pLock);
    HRESULT result = S_OK;
    if (m_State != State_Stopped) {
        for (int i = 0, n = GetPinCount(); i < n; ++i) {
            CBasePin *pin = GetPin(i);
            if (pin && pin->IsConnected()) {
                const HRESULT hr = pin->Inactive();
                if (FAILED(hr) && SUCCEEDED(result)) result = hr;
            }
        }
    }
    m_State = State_Stopped;
    return result;
}

HRESULT CBaseFilter::Pause() {
    CAutoLock guard(*m_pLock);
    if (m_State == State_Stopped) {
        for (int i = 0, n = GetPinCount(); i < n; ++i) {
            CBasePin *pin = GetPin(i);
            if (!pin || !pin->IsConnected()) continue;
            const HRESULT hr = pin->Active();
            if (FAILED(hr)) {
                // Still stopped: the pins already active stop again (a source pin's thread).
                for (int j = 0; j < i; ++j)
                    if (CBasePin *active = GetPin(j); active && active->IsConnected()) active->Inactive();
                return hr;
            }
        }
    }
    m_State = State_Paused;
    return S_OK;
}

HRESULT CBaseFilter::Run(REFERENCE_TIME start) {
    CAutoLock guard(*m_pLock);
    m_tStart = start;
    if (m_State == State_Stopped) {
        const HRESULT hr = Pause();
        if (FAILED(hr)) return hr;
    }
    if (m_State != State_Running) {
        for (int i = 0, n = GetPinCount(); i < n; ++i) {
            CBasePin *pin = GetPin(i);
            if (pin && pin->IsConnected()) {
                const HRESULT hr = pin->Run(start);
                if (FAILED(hr)) return hr;
            }
        }
    }
    m_State = State_Running;
    return S_OK;
}

HRESULT CBaseFilter::GetState(DWORD, FILTER_STATE *state) {
    if (!state) return E_POINTER;
    *state = State();
    return S_OK;
}

HRESULT CBaseFilter::EnumPins(IEnumPins **pins) { return CreatePinEnumerator(this, pins); }

HRESULT CBaseFilter::FindPin(const char *id, IPin **pin) {
    if (!id || !pin) return E_POINTER;
    *pin = nullptr;
    CAutoLock guard(*m_pLock);
    for (int i = 0, n = GetPinCount(); i < n; ++i) {
        CBasePin *candidate = GetPin(i);
        if (candidate && candidate->Name() == id) {
            *pin = candidate;
            candidate->AddRef();
            return S_OK;
        }
    }
    return VFW_E_NOT_FOUND;
}

HRESULT CBaseFilter::QueryFilterInfo(FILTER_INFO *info) {
    if (!info) return E_POINTER;
    CAutoLock guard(*m_pLock);
    info->achName = m_Name;
    info->pGraph = m_pGraph;
    if (m_pGraph) m_pGraph->AddRef();
    return S_OK;
}

HRESULT CBaseFilter::JoinFilterGraph(IFilterGraph *graph, const char *name) {
    CAutoLock guard(*m_pLock);
    m_pGraph = graph;
    if (graph) m_Name = name ? name : "";
    return S_OK;
}

// ---------------------------------------------------------------------------------------------
// CBasePin

CBasePin::CBasePin(CBaseFilter *filter, CCritSec *lock, HRESULT *result, const char *name, PIN_DIRECTION direction)
    : m_pFilter(filter), m_pLock(lock), m_Name(name ? name : ""), m_dir(direction) {
    if (result && (!filter || !lock)) *result = E_POINTER;
}

CBasePin::~CBasePin() = default;

HRESULT CBasePin::NonDelegatingQueryInterface(REFIID iid, void **object) {
    if (iid == IID_IPin) return GetInterface(static_cast<IPin *>(this), object);
    if (iid == IID_IUnknown) return GetInterface(static_cast<IPin *>(this), object);
    return E_NOINTERFACE;
}

HRESULT CBasePin::GetMediaType(int, AM_MEDIA_TYPE *) { return VFW_S_NO_MORE_ITEMS; }

HRESULT CBasePin::SetMediaType(const AM_MEDIA_TYPE *type) {
    if (!type) return E_POINTER;
    return CopyMediaType(&m_mt, type);
}

HRESULT CBasePin::CheckConnect(IPin *pin) {
    PIN_DIRECTION direction;
    const HRESULT hr = pin->QueryDirection(&direction);
    if (FAILED(hr)) return hr;
    return direction == m_dir ? VFW_E_INVALID_DIRECTION : S_OK;
}

HRESULT CBasePin::BreakConnect() { return S_OK; }
HRESULT CBasePin::CompleteConnect(IPin *) { return S_OK; }

void CBasePin::SetConnected(IPin *pin) {
    ComPtr<IPin> previous;
    std::lock_guard guard(m_connectionLock);
    previous = std::move(m_Connected);
    m_Connected = pin;
    m_bConnected.store(pin != nullptr, std::memory_order_release);
}

HRESULT CBasePin::Connect(IPin *receivePin, const AM_MEDIA_TYPE *type) {
    if (!receivePin) return E_POINTER;
    CAutoLock guard(*m_pLock);
    if (m_Connected) return VFW_E_ALREADY_CONNECTED;
    if (!IsStopped()) return VFW_E_NOT_STOPPED;
    return AgreeMediaType(receivePin, type);
}

HRESULT CBasePin::AgreeMediaType(IPin *receivePin, const AM_MEDIA_TYPE *pattern) {
    if (pattern && pattern->majortype != GUID_NULL && pattern->subtype != GUID_NULL &&
        pattern->formattype != GUID_NULL)
        return AttemptConnection(receivePin, *pattern);
    // The receiver's preferences first, then ours.
    HRESULT hr = TryTypesOf(receivePin, receivePin, pattern);
    if (SUCCEEDED(hr)) return hr;
    const HRESULT ours = TryTypesOf(this, receivePin, pattern);
    if (SUCCEEDED(ours)) return ours;
    return hr == VFW_E_NO_TYPES ? ours : VFW_E_NO_ACCEPTABLE_TYPES;
}

HRESULT CBasePin::TryTypesOf(IPin *enumerated, IPin *receivePin, const AM_MEDIA_TYPE *pattern) {
    ComPtr<IEnumMediaTypes> types;
    if (FAILED(enumerated->EnumMediaTypes(types.Put())) || !types) return VFW_E_NO_TYPES;
    AM_MEDIA_TYPE *type = nullptr;
    ULONG fetched = 0;
    bool any = false;
    while (types->Next(1, &type, &fetched) == S_OK && fetched == 1) {
        any = true;
        const bool fits = !pattern || MatchesPartialType(*type, *pattern);
        const HRESULT hr = fits ? AttemptConnection(receivePin, *type) : VFW_E_NO_ACCEPTABLE_TYPES;
        DeleteMediaType(type);
        if (SUCCEEDED(hr)) return hr;
    }
    return any ? VFW_E_NO_ACCEPTABLE_TYPES : VFW_E_NO_TYPES;
}

HRESULT CBasePin::AttemptConnection(IPin *receivePin, const AM_MEDIA_TYPE &type) {
    HRESULT hr = CheckConnect(receivePin);
    if (FAILED(hr)) {
        BreakConnect();
        return hr;
    }
    if (CheckMediaType(&type) != S_OK) {
        BreakConnect();
        return VFW_E_TYPE_NOT_ACCEPTED;
    }
    hr = SetMediaType(&type);
    if (SUCCEEDED(hr)) {
        SetConnected(receivePin);
        hr = receivePin->ReceiveConnection(this, &type);
        if (SUCCEEDED(hr)) {
            hr = CompleteConnect(receivePin);
            if (SUCCEEDED(hr)) return S_OK;
            receivePin->Disconnect();
        }
    }
    SetConnected(nullptr);
    BreakConnect();
    return FAILED(hr) ? hr : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CBasePin::ReceiveConnection(IPin *connector, const AM_MEDIA_TYPE *type) {
    if (!connector || !type) return E_POINTER;
    CAutoLock guard(*m_pLock);
    if (m_Connected) return VFW_E_ALREADY_CONNECTED;
    if (!IsStopped()) return VFW_E_NOT_STOPPED;
    HRESULT hr = CheckConnect(connector);
    if (FAILED(hr)) {
        BreakConnect();
        return hr;
    }
    if (CheckMediaType(type) != S_OK) {
        BreakConnect();
        return VFW_E_TYPE_NOT_ACCEPTED;
    }
    hr = SetMediaType(type);
    if (SUCCEEDED(hr)) {
        SetConnected(connector);
        hr = CompleteConnect(connector);
        if (SUCCEEDED(hr)) return S_OK;
    }
    SetConnected(nullptr);
    BreakConnect();
    return hr;
}

HRESULT CBasePin::Disconnect() {
    CAutoLock guard(*m_pLock);
    if (!IsStopped()) return VFW_E_NOT_STOPPED;
    if (!m_Connected) return S_FALSE;
    const HRESULT hr = BreakConnect();
    if (FAILED(hr)) return hr;
    SetConnected(nullptr);
    return S_OK;
}

HRESULT CBasePin::ConnectedTo(IPin **pin) {
    if (!pin) return E_POINTER;
    std::lock_guard guard(m_connectionLock);
    *pin = nullptr;
    if (!m_Connected) return VFW_E_NOT_CONNECTED;
    return m_Connected.CopyTo(pin);
}

HRESULT CBasePin::ConnectionMediaType(AM_MEDIA_TYPE *type) {
    if (!type) return E_POINTER;
    CAutoLock guard(*m_pLock);
    if (!m_Connected) {
        FreeMediaType(*type);
        return VFW_E_NOT_CONNECTED;
    }
    return CopyMediaType(type, &m_mt);
}

HRESULT CBasePin::QueryPinInfo(PIN_INFO *info) {
    if (!info) return E_POINTER;
    info->pFilter = m_pFilter;
    m_pFilter->AddRef();
    info->dir = m_dir;
    info->achName = m_Name;
    return S_OK;
}

HRESULT CBasePin::QueryDirection(PIN_DIRECTION *direction) {
    if (!direction) return E_POINTER;
    *direction = m_dir;
    return S_OK;
}

HRESULT CBasePin::QueryId(std::string *id) {
    if (!id) return E_POINTER;
    *id = m_Name;
    return S_OK;
}

HRESULT CBasePin::QueryAccept(const AM_MEDIA_TYPE *type) {
    if (!type) return E_POINTER;
    return CheckMediaType(type) == S_OK ? S_OK : S_FALSE;
}

HRESULT CBasePin::EnumMediaTypes(IEnumMediaTypes **types) { return CreateMediaTypeEnumerator(this, types); }

HRESULT CBasePin::NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) { return S_OK; }

// ---------------------------------------------------------------------------------------------
// CBaseOutputPin

CBaseOutputPin::CBaseOutputPin(CBaseFilter *filter, CCritSec *lock, HRESULT *result, const char *name)
    : CBasePin(filter, lock, result, name, PINDIR_OUTPUT) {}

HRESULT CBaseOutputPin::CheckConnect(IPin *pin) {
    HRESULT hr = CBasePin::CheckConnect(pin);
    if (FAILED(hr)) return hr;
    ComPtr<IMemInputPin> input;
    hr = pin->QueryInterface(IID_IMemInputPin, input.PutVoid());
    if (FAILED(hr)) return VFW_E_NO_TRANSPORT;
    m_pInputPin = input;
    return S_OK;
}

HRESULT CBaseOutputPin::CompleteConnect(IPin *) {
    ComPtr<IMemAllocator> allocator;
    const HRESULT hr = DecideAllocator(m_pInputPin.Get(), allocator.Put());
    if (FAILED(hr)) return hr;
    m_pAllocator = allocator;
    return S_OK;
}

HRESULT CBaseOutputPin::DecideAllocator(IMemInputPin *input, IMemAllocator **out) {
    if (!input || !out) return E_POINTER;
    *out = nullptr;
    ALLOCATOR_PROPERTIES request;
    input->GetAllocatorRequirements(&request);
    if (request.cbAlign == 0) request.cbAlign = 1;

    ComPtr<IMemAllocator> allocator;
    HRESULT hr = input->GetAllocator(allocator.Put());
    if (SUCCEEDED(hr) && allocator) {
        hr = DecideBufferSize(allocator.Get(), &request);
        if (SUCCEEDED(hr)) {
            hr = input->NotifyAllocator(allocator.Get(), 0);
            if (SUCCEEDED(hr)) {
                *out = allocator.Detach();
                return S_OK;
            }
        }
    }
    // The input pin has no allocator to offer, or refused our sizes on it: use our own.
    allocator = nullptr;
    const HRESULT created = CreateComObject<CMemAllocator>(IID_IMemAllocator, allocator.PutVoid());
    if (FAILED(created)) return created;
    hr = DecideBufferSize(allocator.Get(), &request);
    if (FAILED(hr)) return hr;
    hr = input->NotifyAllocator(allocator.Get(), 0);
    if (FAILED(hr)) return hr;
    *out = allocator.Detach();
    return S_OK;
}

HRESULT CBaseOutputPin::BreakConnect() {
    if (m_pAllocator) {
        m_pAllocator->Decommit();
        m_pAllocator = nullptr;
    }
    m_pInputPin = nullptr;
    return S_OK;
}

HRESULT CBaseOutputPin::Active() {
    if (!m_pAllocator) return VFW_E_NO_ALLOCATOR;
    return m_pAllocator->Commit();
}

HRESULT CBaseOutputPin::Inactive() {
    if (!m_pAllocator) return VFW_E_NO_ALLOCATOR;
    return m_pAllocator->Decommit();
}

HRESULT CBaseOutputPin::GetDeliveryBuffer(IMediaSample **sample, REFERENCE_TIME *start, REFERENCE_TIME *stop,
                                          DWORD flags) {
    if (!sample) return E_POINTER;
    *sample = nullptr;
    IMemAllocator *allocator = m_pAllocator.Get();
    if (!allocator) return VFW_E_NO_ALLOCATOR;
    return allocator->GetBuffer(sample, start, stop, flags);
}

HRESULT CBaseOutputPin::Deliver(IMediaSample *sample) {
    IMemInputPin *input = m_pInputPin.Get();
    if (!input) return VFW_E_NOT_CONNECTED;
    return input->Receive(sample);
}

HRESULT CBaseOutputPin::DeliverEndOfStream() {
    IPin *peer = m_Connected.Get();
    return peer ? peer->EndOfStream() : VFW_E_NOT_CONNECTED;
}

HRESULT CBaseOutputPin::DeliverBeginFlush() {
    IPin *peer = m_Connected.Get();
    return peer ? peer->BeginFlush() : VFW_E_NOT_CONNECTED;
}

HRESULT CBaseOutputPin::DeliverEndFlush() {
    IPin *peer = m_Connected.Get();
    return peer ? peer->EndFlush() : VFW_E_NOT_CONNECTED;
}

// ---------------------------------------------------------------------------------------------
// CBaseInputPin

CBaseInputPin::CBaseInputPin(CBaseFilter *filter, CCritSec *lock, HRESULT *result, const char *name)
    : CBasePin(filter, lock, result, name, PINDIR_INPUT) {}

HRESULT CBaseInputPin::NonDelegatingQueryInterface(REFIID iid, void **object) {
    if (iid == IID_IMemInputPin) return GetInterface(static_cast<IMemInputPin *>(this), object);
    return CBasePin::NonDelegatingQueryInterface(iid, object);
}

HRESULT CBaseInputPin::GetAllocator(IMemAllocator **allocator) {
    if (!allocator) return E_POINTER;
    CAutoLock guard(*m_pLock);
    if (!m_pAllocator) {
        const HRESULT hr = CreateComObject<CMemAllocator>(IID_IMemAllocator, m_pAllocator.PutVoid());
        if (FAILED(hr)) return hr;
    }
    return m_pAllocator.CopyTo(allocator);
}

HRESULT CBaseInputPin::NotifyAllocator(IMemAllocator *allocator, BOOL readOnly) {
    if (!allocator) return E_POINTER;
    CAutoLock guard(*m_pLock);
    m_pAllocator = allocator;
    m_bReadOnly = readOnly != 0;
    return S_OK;
}

HRESULT CBaseInputPin::CheckStreaming() {
    if (!IsConnected()) return VFW_E_NOT_CONNECTED;
    if (m_bFlushing.load()) return S_FALSE;
    if (IsStopped()) return VFW_E_WRONG_STATE;
    return S_OK;
}

HRESULT CBaseInputPin::Receive(IMediaSample *sample) {
    if (!sample) return E_POINTER;
    return CheckStreaming();
}

HRESULT CBaseInputPin::ReceiveMultiple(IMediaSample **samples, LONG count, LONG *processed) {
    if (!samples || !processed) return E_POINTER;
    *processed = 0;
    HRESULT hr = S_OK;
    while (*processed < count) {
        hr = Receive(samples[*processed]);
        if (hr != S_OK) break;
        ++*processed;
    }
    return hr;
}

HRESULT CBaseInputPin::BeginFlush() {
    m_bFlushing = true;
    return S_OK;
}

HRESULT CBaseInputPin::EndFlush() {
    m_bFlushing = false;
    return S_OK;
}

HRESULT CBaseInputPin::BreakConnect() {
    if (m_pAllocator) {
        m_pAllocator->Decommit();
        m_pAllocator = nullptr;
    }
    return S_OK;
}

HRESULT CBaseInputPin::Inactive() {
    m_bFlushing = false;
    if (m_pAllocator) m_pAllocator->Decommit();
    return S_OK;
}
