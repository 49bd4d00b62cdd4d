// The sample grabber and the null renderer, built-in classes of the layer.

#include "compat/com/ClassRegistry.h"
#include "compat/dshow/BaseFilter.h"
#include "compat/dshow/Renderer.h"
#include "compat/dshow/Uuids.h"

#include <cstring>
#include <vector>

namespace {

class CSampleGrabber;

class GrabberInputPin final : public CBaseInputPin {
public:
    GrabberInputPin(CSampleGrabber *filter, CCritSec *lock, HRESULT *result);
    HRESULT CheckMediaType(const AM_MEDIA_TYPE *type) override;
    HRESULT Receive(IMediaSample *sample) override;

private:
    CSampleGrabber *grabber;
};

class GrabberOutputPin final : public CBaseOutputPin {
public:
    GrabberOutputPin(CSampleGrabber *filter, CCritSec *lock, HRESULT *result);
    HRESULT CheckMediaType(const AM_MEDIA_TYPE *type) override;
    HRESULT GetMediaType(int position, AM_MEDIA_TYPE *type) override;
    HRESULT DecideAllocator(IMemInputPin *input, IMemAllocator **allocator) override;
    HRESULT DecideBufferSize(IMemAllocator *, ALLOCATOR_PROPERTIES *) override { return E_UNEXPECTED; }

private:
    CSampleGrabber *grabber;
};

// Passes every sample on unchanged (the same sample: no copy), after handing it to the
// callback and, when asked, keeping a copy of its bytes. The callback lock is held while
// the callback runs, so that SetCallback returns only when no call is in progress.
class CSampleGrabber final : public CBaseFilter, public ISampleGrabber {
public:
    CSampleGrabber() : CBaseFilter("SampleGrabber", &stateLock, CLSID_SampleGrabber) {
        HRESULT hr = S_OK;
        input = std::make_unique<GrabberInputPin>(this, &stateLock, &hr);
        output = std::make_unique<GrabberOutputPin>(this, &stateLock, &hr);
    }
    ~CSampleGrabber() override = default;

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID iid, void **object) override {
        if (iid == IID_ISampleGrabber) return GetInterface(static_cast<ISampleGrabber *>(this), object);
        return CBaseFilter::NonDelegatingQueryInterface(iid, object);
    }

    int GetPinCount() override { return 2; }
    CBasePin *GetPin(int n) override { return n == 0 ? static_cast<CBasePin *>(input.get()) : n == 1 ? output.get() : nullptr; }

    HRESULT Stop() override {
        CAutoLock guard(stateLock);
        const HRESULT hr = CBaseFilter::Stop();
        std::lock_guard waiting(callbackLock);  // a callback in progress ends first
        return hr;
    }

    HRESULT SetOneShot(BOOL value) override {
        std::lock_guard guard(callbackLock);
        oneShot = value != 0;
        gotOne = false;
        return S_OK;
    }
    HRESULT SetMediaType(const AM_MEDIA_TYPE *type) override {
        CAutoLock guard(stateLock);
        if (!type) {
            acceptType = AM_MEDIA_TYPE();
            return S_OK;
        }
        return CopyMediaType(&acceptType, type);
    }
    HRESULT GetConnectedMediaType(AM_MEDIA_TYPE *type) override {
        if (!type) return E_POINTER;
        return input->ConnectionMediaType(type);
    }
    HRESULT SetBufferSamples(BOOL value) override {
        std::lock_guard guard(callbackLock);
        bufferSamples = value != 0;
        if (!bufferSamples) {
            buffered.clear();
            haveBuffer = false;
        }
        return S_OK;
    }
    HRESULT GetCurrentBuffer(LONG *size, LONG *buffer) override {
        if (!size) return E_POINTER;
        std::lock_guard guard(callbackLock);
        if (!bufferSamples) return E_INVALIDARG;
        if (!haveBuffer) return VFW_E_WRONG_STATE;
        const LONG needed = LONG(buffered.size());
        if (!buffer) {
            *size = needed;
            return S_OK;
        }
        if (*size < needed) return E_OUTOFMEMORY;
        std::memcpy(buffer, buffered.data(), buffered.size());
        *size = needed;
        return S_OK;
    }
    HRESULT SetCallback(ISampleGrabberCB *cb, LONG which) override {
        if (which != 0 && which != 1) return E_INVALIDARG;
        std::lock_guard guard(callbackLock);
        callback = cb;
        callbackMethod = which;
        return S_OK;
    }

    const AM_MEDIA_TYPE &AcceptType() const { return acceptType; }
    GrabberInputPin *Input() const { return input.get(); }
    GrabberOutputPin *Output() const { return output.get(); }

    HRESULT Grab(IMediaSample *sample) {
        {
            std::lock_guard guard(callbackLock);
            if (oneShot && gotOne) return S_FALSE;
            gotOne = true;
            BYTE *data = nullptr;
            sample->GetPointer(&data);
            const LONG length = sample->GetActualDataLength();
            if (bufferSamples && data && length >= 0) {
                buffered.assign(data, data + length);
                haveBuffer = true;
            }
            REFERENCE_TIME start = 0, stop = 0;
            const double time = sample->GetTime(&start, &stop) == S_OK ? double(start) / UNITS : 0.0;
            if (callback) {
                if (callbackMethod == 0) callback->SampleCB(time, sample);
                else if (data) callback->BufferCB(time, data, length);
            }
        }
        if (!output->IsConnected()) return S_OK;
        return output->Deliver(sample);
    }

private:
    CCritSec stateLock;
    std::recursive_mutex callbackLock;
    std::unique_ptr<GrabberInputPin> input;
    std::unique_ptr<GrabberOutputPin> output;
    AM_MEDIA_TYPE acceptType;
    ComPtr<ISampleGrabberCB> callback;
    LONG callbackMethod = 0;
    bool bufferSamples = false, haveBuffer = false, oneShot = false, gotOne = false;
    std::vector<BYTE> buffered;
};

GrabberInputPin::GrabberInputPin(CSampleGrabber *filter, CCritSec *lock, HRESULT *result)
    : CBaseInputPin(filter, lock, result, "Input"), grabber(filter) {}

HRESULT GrabberInputPin::CheckMediaType(const AM_MEDIA_TYPE *type) {
    if (!type) return E_POINTER;
    return MatchesPartialType(*type, grabber->AcceptType()) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT GrabberInputPin::Receive(IMediaSample *sample) {
    HRESULT hr = CBaseInputPin::Receive(sample);
    if (hr != S_OK) return hr;
    return grabber->Grab(sample);
}

GrabberOutputPin::GrabberOutputPin(CSampleGrabber *filter, CCritSec *lock, HRESULT *result)
    : CBaseOutputPin(filter, lock, result, "Output"), grabber(filter) {}

HRESULT GrabberOutputPin::CheckMediaType(const AM_MEDIA_TYPE *type) {
    if (!type) return E_POINTER;
    if (!grabber->Input()->IsConnected()) return VFW_E_NOT_CONNECTED;
    return MediaTypesEqual(*type, grabber->Input()->CurrentMediaType()) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT GrabberOutputPin::GetMediaType(int position, AM_MEDIA_TYPE *type) {
    if (!type) return E_POINTER;
    if (!grabber->Input()->IsConnected()) return VFW_E_NOT_CONNECTED;
    if (position != 0) return VFW_S_NO_MORE_ITEMS;
    return CopyMediaType(type, &grabber->Input()->CurrentMediaType());
}

// Samples travel on through the upstream allocator, so the downstream sees the same buffers.
HRESULT GrabberOutputPin::DecideAllocator(IMemInputPin *downstream, IMemAllocator **out) {
    if (!downstream || !out) return E_POINTER;
    IMemAllocator *upstream = grabber->Input()->Allocator();
    if (!upstream) return VFW_E_NO_ALLOCATOR;
    HRESULT hr = downstream->NotifyAllocator(upstream, grabber->Input()->IsReadOnly());
    if (FAILED(hr)) return hr;
    *out = upstream;
    upstream->AddRef();
    return S_OK;
}

class CNullRenderer final : public CBaseRenderer {
public:
    CNullRenderer() : CBaseRenderer("Null Renderer", CLSID_NullRenderer) {}
    HRESULT CheckMediaType(const AM_MEDIA_TYPE *type) override { return type ? S_OK : E_POINTER; }
    HRESULT DoRenderSample(IMediaSample *) override { return S_OK; }
};

const RegisteredMediaType kAnyType{GUID_NULL, GUID_NULL};

const BuiltInClassRegistrar registerGrabber(
    ClassRegistration{CLSID_SampleGrabber, "SampleGrabber", "", "Both", MERIT_DO_NOT_USE,
                      {CLSID_LegacyAmFilterCategory}, {kAnyType}, {kAnyType}},
    &CreateUnaggregated<CSampleGrabber>);

const BuiltInClassRegistrar registerNullRenderer(
    ClassRegistration{CLSID_NullRenderer, "Null Renderer", "", "Both", MERIT_DO_NOT_USE,
                      {CLSID_LegacyAmFilterCategory}, {kAnyType}, {}},
    &CreateUnaggregated<CNullRenderer>);

}  // namespace
