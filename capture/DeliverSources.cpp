#include "capture/DeliverSources.h"

#include "app/Log.h"
#include "capture/DSUtilEx.h"

#include <cstring>
#include <mutex>

// ---------------------------------------------------------------------------------------------
// TPushPin

TPushPin::TPushPin(TDeliverSource *filter, HRESULT *result) : CBaseOutputPin(filter, &m_PinLock, result, "Out") {}

HRESULT TPushPin::CheckMediaType(const AM_MEDIA_TYPE *type) {
    if (!type) return E_POINTER;
    CAutoLock guard(m_PinLock);
    return type->majortype == m_mt.majortype ? S_OK : E_INVALIDARG;
}

HRESULT TPushPin::GetMediaType(int position, AM_MEDIA_TYPE *type) {
    if (!type) return E_POINTER;
    CAutoLock guard(m_PinLock);
    if (position != 0) return VFW_S_NO_MORE_ITEMS;
    return CopyMediaType(type, &m_mt);
}

HRESULT TPushPin::SetMediaType(const AM_MEDIA_TYPE *type) {
    if (!type) return E_POINTER;
    AM_MEDIA_TYPE normalised(*type);
    if (normalised.formattype == FORMAT_VideoInfo || normalised.formattype == FORMAT_VideoInfo2) {
        VIDEOINFOHEADER *vih = normalised.VideoInfo();
        VIDEOINFOHEADER2 *vih2 = normalised.VideoInfo2();
        if (!vih && !vih2) return VFW_E_INVALIDMEDIATYPE;
        REFERENCE_TIME &duration = vih ? vih->AvgTimePerFrame : vih2->AvgTimePerFrame;
        BITMAPINFOHEADER &header = vih ? vih->bmiHeader : vih2->bmiHeader;
        if (duration == 0) duration = DefaultFrameDuration;
        header.biSizeImage = BitmapImageSize(header);
    }
    CAutoLock guard(m_PinLock);
    return CBaseOutputPin::SetMediaType(&normalised);
}

HRESULT TPushPin::DecideBufferSize(IMemAllocator *allocator, ALLOCATOR_PROPERTIES *request) {
    CAutoLock guard(m_PinLock);
    if (!allocator || !request) return E_POINTER;
    int64_t size = 0;
    if (const BITMAPINFOHEADER *header = m_mt.BitmapHeader()) {
        size = header->biSizeImage ? header->biSizeImage : BitmapImageSize(*header);
    } else if (const WAVEFORMATEX *wave = m_mt.WaveFormat()) {
        size = 2 * int64_t(wave->nAvgBytesPerSec / 40);  // 1/20 s of sound
    }
    if (size <= 0 || size > INT32_MAX) size = DefaultPushBufferSize;
    request->cBuffers = 1;
    request->cbBuffer = LONG(size);
    if (request->cbAlign <= 0) request->cbAlign = 1;
    ALLOCATOR_PROPERTIES actual;
    const HRESULT hr = allocator->SetProperties(request, &actual);
    if (FAILED(hr)) return hr;
    if (actual.cbBuffer < request->cbBuffer || actual.cBuffers < 1) return E_FAIL;
    return S_OK;
}

HRESULT TPushPin::Active() {
    m_failureReported.store(false, std::memory_order_relaxed);
    m_active.store(true, std::memory_order_release);
    return CBaseOutputPin::Active();
}

HRESULT TPushPin::Inactive() {
    m_active.store(false, std::memory_order_release);
    // Decommitting wakes a delivery that waits for the buffer; the gate then waits for every
    // delivery still running downstream.
    const HRESULT hr = CBaseOutputPin::Inactive();
    std::unique_lock wait(m_deliveryGate);
    return hr;
}

HRESULT TPushPin::DeliverBuffer(const BYTE *buffer, LONG length, BOOL syncPoint) {
    std::shared_lock gate(m_deliveryGate);
    return DeliverGated(buffer, length, syncPoint);
}

void TPushPin::ReportDeliveryFailure(HRESULT result) {
    // Once per run: a source that fails on every frame must not flood the log.
    if (m_failureReported.exchange(true, std::memory_order_relaxed)) return;
    Notice(QStringLiteral("%1: a frame was not delivered: %2 ($%3)")
               .arg(QString::fromStdString(Filter()->Name()), QString::fromStdString(HResultText(result)))
               .arg(static_cast<uint32_t>(result), 8, 16, QLatin1Char('0')));
}

HRESULT TPushPin::DeliverGated(const BYTE *buffer, LONG length, BOOL syncPoint) {
    const HRESULT hr = CopyAndDeliver(buffer, length, syncPoint);
    // A stop under way decommits the buffer or stops downstream: that is no failure to report.
    if (FAILED(hr) && hr != VFW_E_NOT_COMMITTED && hr != VFW_E_WRONG_STATE) ReportDeliveryFailure(hr);
    return hr;
}

HRESULT TPushPin::CopyAndDeliver(const BYTE *buffer, LONG length, BOOL syncPoint) {
    try {
        if (!IsPinActive() || !IsConnected()) return S_FALSE;
        if (!buffer) return E_POINTER;
        if (length < 0) return E_INVALIDARG;
        ComPtr<IMediaSample> sample;
        HRESULT hr = GetDeliveryBuffer(sample.Put(), nullptr, nullptr, 0);
        if (FAILED(hr)) return hr;
        CAutoLock guard(m_PinLock);
        BYTE *data = nullptr;
        sample->GetPointer(&data);
        if (length > sample->GetSize()) return VFW_E_BUFFER_OVERFLOW;
        std::memcpy(data, buffer, size_t(length));
        sample->SetActualDataLength(length);
        if (syncPoint) sample->SetSyncPoint(1);
        return Deliver(sample.Get());
    } catch (...) {
        // Delivery runs on foreign streaming threads: nothing may escape.
        return E_UNEXPECTED;
    }
}

// ---------------------------------------------------------------------------------------------
// TDeliverSource

TDeliverSource::TDeliverSource(const char *name) : CBaseFilter(name, &m_FilterLock, CLSID_DeliverSource) {
    CreatePin();
}

TDeliverSource::~TDeliverSource() {
    Stop();
    CAutoLock guard(m_FilterLock);
    while (!m_Pins.empty()) RemoveLastPin();
}

HRESULT TDeliverSource::NonDelegatingQueryInterface(REFIID iid, void **object) {
    if (iid == IID_IAMFilterMiscFlags) return GetInterface(static_cast<IAMFilterMiscFlags *>(this), object);
    if (iid == IID_ISpecifyPropertyPages) return GetInterface(static_cast<ISpecifyPropertyPages *>(this), object);
    if (iid == IID_IDeliverControl) return GetInterface(static_cast<IDeliverControl *>(this), object);
    return CBaseFilter::NonDelegatingQueryInterface(iid, object);
}

TPushPin *TDeliverSource::CreatePin() {
    HRESULT hr = S_OK;
    auto pin = std::make_unique<TPushPin>(this, &hr);
    CheckDSResult(hr, QStringLiteral("TPushPin.Create failed."));
    CAutoLock guard(m_FilterLock);
    m_Pins.push_back(std::move(pin));
    return m_Pins.back().get();
}

void TDeliverSource::RemoveLastPin() {
    TPushPin *pin = m_Pins.back().get();
    ComPtr<IPin> peer;
    if (pin->ConnectedTo(peer.Put()) == S_OK) {
        peer->Disconnect();
        pin->Disconnect();
    }
    m_Pins.pop_back();
}

int TDeliverSource::GetPinCount() {
    CAutoLock guard(m_FilterLock);
    return int(m_Pins.size());
}

CBasePin *TDeliverSource::GetPin(int n) { return PushPin(n); }

TPushPin *TDeliverSource::PushPin(int index) {
    CAutoLock guard(m_FilterLock);
    return index >= 0 && index < int(m_Pins.size()) ? m_Pins[index].get() : nullptr;
}

HRESULT TDeliverSource::Pause() {
    CAutoLock guard(m_FilterLock);
    // Once a running filter is paused its pins stay silent until they are activated anew
    // by leaving the stopped state; the compositing graph treats this as a fault to recover.
    if (m_State == State_Running)
        for (auto &pin : m_Pins) pin->ClearActive();
    return CBaseFilter::Pause();
}

HRESULT TDeliverSource::SetPinCount(int count) {
    if (count < 0) return E_INVALIDARG;
    CAutoLock guard(m_FilterLock);
    if (!IsStopped()) return E_ACCESSDENIED;
    while (int(m_Pins.size()) < count) CreatePin();
    while (int(m_Pins.size()) > count) RemoveLastPin();
    return S_OK;
}

HRESULT TDeliverSource::SetPin(int index, const char *name, const AM_MEDIA_TYPE *type) {
    CAutoLock guard(m_FilterLock);
    if (!IsStopped()) return E_ACCESSDENIED;
    TPushPin *pin = PushPin(index);
    if (!pin) return E_INVALIDARG;
    if (!type) return E_POINTER;
    const HRESULT hr = pin->SetMediaType(type);
    pin->SetName(name);
    return hr;
}

HRESULT TDeliverSource::DeliverBuffer(int index, const BYTE *buffer, LONG length, BOOL syncPoint) {
    TPushPin *pin = nullptr;
    std::shared_lock<std::shared_mutex> gate;
    {
        // Holding the filter lock keeps the pin from being deactivated or removed while the
        // gate is taken; once it is held, deactivation waits for this delivery.
        CAutoLock guard(m_FilterLock);
        if (IsStopped()) return S_FALSE;
        pin = PushPin(index);
        if (!pin || !pin->IsConnected()) return S_FALSE;
        gate = std::shared_lock(pin->m_deliveryGate);
    }
    return pin->DeliverGated(buffer, length, syncPoint);
}
