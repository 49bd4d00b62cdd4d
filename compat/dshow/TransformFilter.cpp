#include "compat/dshow/TransformFilter.h"

#include <cstring>

// ---------------------------------------------------------------------------------------------
// Pins

CTransformInputPin::CTransformInputPin(CTransformFilter *filter, HRESULT *result, const char *name)
    : CBaseInputPin(filter, filter->StateLock(), result, name), m_pTransformFilter(filter) {}

HRESULT CTransformInputPin::CheckMediaType(const AM_MEDIA_TYPE *type) {
    if (!type) return E_POINTER;
    HRESULT hr = m_pTransformFilter->CheckInputType(type);
    if (hr != S_OK) return FAILED(hr) ? hr : VFW_E_TYPE_NOT_ACCEPTED;
    // A connected output must still fit the new input.
    CTransformOutputPin *output = m_pTransformFilter->OutputPin();
    if (output && output->IsConnected())
        return m_pTransformFilter->CheckTransform(type, &output->CurrentMediaType());
    return S_OK;
}

HRESULT CTransformInputPin::SetMediaType(const AM_MEDIA_TYPE *type) {
    HRESULT hr = CBasePin::SetMediaType(type);
    if (FAILED(hr)) return hr;
    return m_pTransformFilter->SetMediaType(PINDIR_INPUT, type);
}

HRESULT CTransformInputPin::CheckConnect(IPin *pin) {
    HRESULT hr = m_pTransformFilter->CheckConnect(PINDIR_INPUT, pin);
    if (FAILED(hr)) return hr;
    return CBaseInputPin::CheckConnect(pin);
}

HRESULT CTransformInputPin::BreakConnect() {
    m_pTransformFilter->BreakConnect(PINDIR_INPUT);
    return CBaseInputPin::BreakConnect();
}

HRESULT CTransformInputPin::CompleteConnect(IPin *receivePin) {
    HRESULT hr = m_pTransformFilter->CompleteConnect(PINDIR_INPUT, receivePin);
    if (FAILED(hr)) return hr;
    return CBaseInputPin::CompleteConnect(receivePin);
}

HRESULT CTransformInputPin::Receive(IMediaSample *sample) {
    CAutoLock guard(m_pTransformFilter->m_csReceive);
    HRESULT hr = CBaseInputPin::Receive(sample);
    if (hr != S_OK) return hr;
    return m_pTransformFilter->Receive(sample);
}

HRESULT CTransformInputPin::EndOfStream() {
    CAutoLock guard(m_pTransformFilter->m_csReceive);
    HRESULT hr = CheckStreaming();
    if (hr != S_OK) return hr;
    return m_pTransformFilter->EndOfStream();
}

HRESULT CTransformInputPin::BeginFlush() {
    CAutoLock guard(*m_pLock);
    HRESULT hr = CBaseInputPin::BeginFlush();
    if (FAILED(hr)) return hr;
    return m_pTransformFilter->BeginFlush();
}

HRESULT CTransformInputPin::EndFlush() {
    CAutoLock guard(*m_pLock);
    HRESULT hr = m_pTransformFilter->EndFlush();
    if (FAILED(hr)) return hr;
    return CBaseInputPin::EndFlush();
}

CTransformOutputPin::CTransformOutputPin(CTransformFilter *filter, HRESULT *result, const char *name)
    : CBaseOutputPin(filter, filter->StateLock(), result, name), m_pTransformFilter(filter) {}

HRESULT CTransformOutputPin::CheckMediaType(const AM_MEDIA_TYPE *type) {
    if (!type) return E_POINTER;
    CTransformInputPin *input = m_pTransformFilter->InputPin();
    if (!input || !input->IsConnected()) return E_INVALIDARG;
    return m_pTransformFilter->CheckTransform(&input->CurrentMediaType(), type);
}

HRESULT CTransformOutputPin::GetMediaType(int position, AM_MEDIA_TYPE *type) {
    if (!type) return E_POINTER;
    CTransformInputPin *input = m_pTransformFilter->InputPin();
    if (!input || !input->IsConnected()) return E_UNEXPECTED;
    return m_pTransformFilter->GetMediaType(position, type);
}

HRESULT CTransformOutputPin::SetMediaType(const AM_MEDIA_TYPE *type) {
    HRESULT hr = CBasePin::SetMediaType(type);
    if (FAILED(hr)) return hr;
    return m_pTransformFilter->SetMediaType(PINDIR_OUTPUT, type);
}

HRESULT CTransformOutputPin::CheckConnect(IPin *pin) {
    CTransformInputPin *input = m_pTransformFilter->InputPin();
    if (!input || !input->IsConnected()) return E_UNEXPECTED;
    HRESULT hr = m_pTransformFilter->CheckConnect(PINDIR_OUTPUT, pin);
    if (FAILED(hr)) return hr;
    return CBaseOutputPin::CheckConnect(pin);
}

HRESULT CTransformOutputPin::BreakConnect() {
    m_pTransformFilter->BreakConnect(PINDIR_OUTPUT);
    return CBaseOutputPin::BreakConnect();
}

HRESULT CTransformOutputPin::CompleteConnect(IPin *receivePin) {
    HRESULT hr = m_pTransformFilter->CompleteConnect(PINDIR_OUTPUT, receivePin);
    if (FAILED(hr)) return hr;
    return CBaseOutputPin::CompleteConnect(receivePin);
}

HRESULT CTransformOutputPin::DecideBufferSize(IMemAllocator *allocator, ALLOCATOR_PROPERTIES *request) {
    return m_pTransformFilter->DecideBufferSize(allocator, request);
}

// ---------------------------------------------------------------------------------------------
// Filter

CTransformFilter::CTransformFilter(const char *name, REFCLSID clsid) : CBaseFilter(name, &m_csFilter, clsid) {}

CTransformFilter::~CTransformFilter() = default;

void CTransformFilter::CreatePins() {
    HRESULT hr = S_OK;
    m_pInput = std::make_unique<CTransformInputPin>(this, &hr, "XForm In");
    m_pOutput = std::make_unique<CTransformOutputPin>(this, &hr, "XForm Out");
}

CBasePin *CTransformFilter::GetPin(int n) {
    CAutoLock guard(m_csFilter);
    if (!m_pInput) CreatePins();
    if (n == 0) return m_pInput.get();
    if (n == 1) return m_pOutput.get();
    return nullptr;
}

HRESULT CTransformFilter::Stop() {
    CAutoLock guard(m_csFilter);
    if (m_State == State_Stopped) return S_OK;
    if (!m_pInput || !m_pInput->IsConnected() || !m_pOutput->IsConnected()) {
        m_State = State_Stopped;
        return S_OK;
    }
    // Decommit first, so that a Receive blocked on an output buffer returns; then wait for
    // the sample in progress.
    m_pInput->Inactive();
    m_pOutput->Inactive();
    CAutoLock receiving(m_csReceive);
    const HRESULT hr = StopStreaming();
    m_State = State_Stopped;
    return hr;
}

HRESULT CTransformFilter::Pause() {
    CAutoLock guard(m_csFilter);
    if (m_State == State_Paused) return S_OK;
    if (!m_pInput || !m_pInput->IsConnected() || !m_pOutput->IsConnected()) {
        m_State = State_Paused;
        return S_OK;
    }
    if (m_State != State_Stopped) return CBaseFilter::Pause();
    {
        CAutoLock receiving(m_csReceive);
        const HRESULT hr = StartStreaming();
        if (FAILED(hr)) return hr;
    }
    const HRESULT hr = CBaseFilter::Pause();
    if (FAILED(hr)) {
        // Still stopped: what StartStreaming set up goes again.
        CAutoLock receiving(m_csReceive);
        StopStreaming();
    }
    return hr;
}

HRESULT CTransformFilter::Transform(IMediaSample *, IMediaSample *) { return E_UNEXPECTED; }

HRESULT CTransformFilter::Receive(IMediaSample *input) {
    if (!m_pOutput->IsConnected()) return S_OK;
    ComPtr<IMediaSample> output;
    HRESULT hr = m_pOutput->GetDeliveryBuffer(output.Put(), nullptr, nullptr, 0);
    if (FAILED(hr)) return hr;
    REFERENCE_TIME start = 0, stop = 0;
    if (input->GetTime(&start, &stop) == S_OK) output->SetTime(&start, &stop);
    int64_t mediaStart = 0, mediaStop = 0;
    if (input->GetMediaTime(&mediaStart, &mediaStop) == S_OK) output->SetMediaTime(&mediaStart, &mediaStop);
    output->SetSyncPoint(input->IsSyncPoint() == S_OK);
    output->SetDiscontinuity(input->IsDiscontinuity() == S_OK);
    output->SetPreroll(input->IsPreroll() == S_OK);
    hr = Transform(input, output.Get());
    if (hr == S_FALSE) return S_OK;
    if (FAILED(hr)) return hr;
    return m_pOutput->Deliver(output.Get());
}

HRESULT CTransformFilter::EndOfStream() {
    return m_pOutput && m_pOutput->IsConnected() ? m_pOutput->DeliverEndOfStream() : S_OK;
}

HRESULT CTransformFilter::BeginFlush() {
    return m_pOutput && m_pOutput->IsConnected() ? m_pOutput->DeliverBeginFlush() : S_OK;
}

HRESULT CTransformFilter::EndFlush() {
    return m_pOutput && m_pOutput->IsConnected() ? m_pOutput->DeliverEndFlush() : S_OK;
}

HRESULT CTransformFilter::OnlyOutputTypeAt(int position, const AM_MEDIA_TYPE *type) const {
    if (!type)
        return E_POINTER;
    if (!InputPin() || !InputPin()->IsConnected())
        return VFW_E_NOT_CONNECTED;
    if (position < 0)
        return E_INVALIDARG;
    return position > 0 ? VFW_S_NO_MORE_ITEMS : S_OK;
}
