#include "compat/dshow/SourceFilter.h"

CSourceStream::CSourceStream(CSource *filter, HRESULT *result, const char *name)
    : CBaseOutputPin(filter, filter->StateLock(), result, name) {}

CSourceStream::~CSourceStream() {
    m_stop = true;
    if (m_pAllocator) m_pAllocator->Decommit();
    if (m_thread.joinable()) m_thread.join();
}

HRESULT CSourceStream::CheckMediaType(const AM_MEDIA_TYPE *type) {
    if (!type) return E_POINTER;
    for (int i = 0;; ++i) {
        AM_MEDIA_TYPE offered;
        if (GetMediaType(i, &offered) != S_OK) return S_FALSE;
        if (MediaTypesEqual(offered, *type)) return S_OK;
    }
}

HRESULT CSourceStream::Active() {
    HRESULT hr = CBaseOutputPin::Active();
    if (FAILED(hr)) return hr;
    if (m_thread.joinable()) return S_OK;
    m_stop = false;
    m_thread = std::thread(&CSourceStream::ThreadProc, this);
    return S_OK;
}

HRESULT CSourceStream::Inactive() {
    m_stop = true;
    // Decommitting wakes the thread if it waits for a buffer.
    const HRESULT hr = CBaseOutputPin::Inactive();
    if (m_thread.joinable()) m_thread.join();
    return hr;
}

void CSourceStream::ThreadProc() {
    if (FAILED(OnThreadCreate())) {
        OnThreadDestroy();
        return;
    }
    while (!StopRequested()) {
        ComPtr<IMediaSample> sample;
        HRESULT hr = GetDeliveryBuffer(sample.Put(), nullptr, nullptr, 0);
        if (FAILED(hr)) break;  // decommitted: the filter is stopping
        hr = FillBuffer(sample.Get());
        if (hr == S_OK) {
            hr = Deliver(sample.Get());
            sample = nullptr;
            // A downstream that is not running yet refuses; keep going until told to stop.
            continue;
        }
        sample = nullptr;
        if (hr == S_FALSE) DeliverEndOfStream();
        break;
    }
    OnThreadDestroy();
}

CSource::CSource(const char *name, REFCLSID clsid) : CBaseFilter(name, &m_cStateLock, clsid) {}

CSource::~CSource() {
    // Pins go first: their threads may still use the filter.
    m_Pins.clear();
}

int CSource::GetPinCount() {
    CAutoLock guard(m_cStateLock);
    return int(m_Pins.size());
}

CBasePin *CSource::GetPin(int n) {
    CAutoLock guard(m_cStateLock);
    return n >= 0 && n < int(m_Pins.size()) ? m_Pins[n].get() : nullptr;
}

void CSource::AddPin(std::unique_ptr<CSourceStream> pin) {
    CAutoLock guard(m_cStateLock);
    m_Pins.push_back(std::move(pin));
}
