#include "compat/dshow/Renderer.h"

CRendererInputPin::CRendererInputPin(CBaseRenderer *renderer, HRESULT *result, const char *name)
    : CBaseInputPin(renderer, &renderer->m_InterfaceLock, result, name), m_pRenderer(renderer) {}

HRESULT CRendererInputPin::CheckMediaType(const AM_MEDIA_TYPE *type) {
    if (!type) return E_POINTER;
    return m_pRenderer->CheckMediaType(type);
}

HRESULT CRendererInputPin::GetMediaType(int position, AM_MEDIA_TYPE *type) {
    return m_pRenderer->GetMediaType(position, type);
}

HRESULT CRendererInputPin::Receive(IMediaSample *sample) {
    HRESULT hr = CBaseInputPin::Receive(sample);
    if (hr != S_OK) return hr;
    return m_pRenderer->RenderOne(sample);
}

HRESULT CRendererInputPin::CompleteConnect(IPin *receivePin) {
    HRESULT hr = m_pRenderer->OnConnected(m_mt);
    if (FAILED(hr)) return hr;
    return CBaseInputPin::CompleteConnect(receivePin);
}

HRESULT CRendererInputPin::BreakConnect() {
    m_pRenderer->OnDisconnected();
    return CBaseInputPin::BreakConnect();
}

CBaseRenderer::CBaseRenderer(const char *name, REFCLSID clsid) : CBaseFilter(name, &m_InterfaceLock, clsid) {
    HRESULT hr = S_OK;
    m_pInputPin = std::make_unique<CRendererInputPin>(this, &hr, "In");
}

CBaseRenderer::~CBaseRenderer() = default;

HRESULT CBaseRenderer::NonDelegatingQueryInterface(REFIID iid, void **object) {
    if (iid == IID_IAMFilterMiscFlags) return GetInterface(static_cast<IAMFilterMiscFlags *>(this), object);
    return CBaseFilter::NonDelegatingQueryInterface(iid, object);
}

HRESULT CBaseRenderer::Stop() {
    CAutoLock guard(m_InterfaceLock);
    const HRESULT hr = CBaseFilter::Stop();
    // Wait for a sample being rendered on another thread.
    CAutoLock rendering(m_RendererLock);
    return hr;
}

HRESULT CBaseRenderer::RenderOne(IMediaSample *sample) {
    CAutoLock rendering(m_RendererLock);
    if (IsStopped()) return VFW_E_WRONG_STATE;
    const HRESULT hr = DoRenderSample(sample);
    if (SUCCEEDED(hr)) m_rendered.fetch_add(1);
    return hr;
}
