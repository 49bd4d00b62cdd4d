#pragma once

// A filter with one input pin ("In") that consumes every sample at once on the delivering
// thread (no clock). A derived renderer implements CheckMediaType and DoRenderSample.

#include "compat/dshow/BaseFilter.h"

#include <memory>

class CBaseRenderer;

class CRendererInputPin : public CBaseInputPin {
public:
    CRendererInputPin(CBaseRenderer *renderer, HRESULT *result, const char *name);
    HRESULT CheckMediaType(const AM_MEDIA_TYPE *type) override;
    HRESULT GetMediaType(int position, AM_MEDIA_TYPE *type) override;
    HRESULT Receive(IMediaSample *sample) override;
    HRESULT CompleteConnect(IPin *receivePin) override;
    HRESULT BreakConnect() override;

private:
    CBaseRenderer *m_pRenderer;
};

class CBaseRenderer : public CBaseFilter, public IAMFilterMiscFlags {
public:
    CBaseRenderer(const char *name, REFCLSID clsid);
    ~CBaseRenderer() override;

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID iid, void **object) override;
    ULONG GetMiscFlags() override { return AM_FILTER_MISC_FLAGS_IS_RENDERER; }

    int GetPinCount() override { return 1; }
    CBasePin *GetPin(int n) override { return n == 0 ? m_pInputPin.get() : nullptr; }
    HRESULT Stop() override;

    virtual HRESULT CheckMediaType(const AM_MEDIA_TYPE *type) = 0;
    // Optional types to offer an upstream pin that asks.
    virtual HRESULT GetMediaType(int, AM_MEDIA_TYPE *) { return VFW_S_NO_MORE_ITEMS; }
    virtual HRESULT DoRenderSample(IMediaSample *sample) = 0;
    virtual HRESULT OnConnected(const AM_MEDIA_TYPE &) { return S_OK; }
    virtual HRESULT OnDisconnected() { return S_OK; }

    // Samples rendered since the filter was created (for tests and status displays).
    uint64_t RenderedCount() const { return m_rendered.load(); }

protected:
    friend class CRendererInputPin;
    HRESULT RenderOne(IMediaSample *sample);

    CCritSec m_InterfaceLock;
    CCritSec m_RendererLock;  // held while a sample is rendered
    std::unique_ptr<CRendererInputPin> m_pInputPin;
    std::atomic<uint64_t> m_rendered{0};
};
