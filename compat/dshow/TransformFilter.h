#pragma once

// A filter with one input ("XForm In") and one output ("XForm Out") that makes one output
// sample from each input sample on the delivering thread. A derived filter implements
// CheckInputType, CheckTransform, GetMediaType (output types), DecideBufferSize and Transform.

#include "compat/dshow/BaseFilter.h"

#include <memory>

class CTransformFilter;

class CTransformInputPin : public CBaseInputPin {
public:
    CTransformInputPin(CTransformFilter *filter, HRESULT *result, const char *name);
    HRESULT CheckMediaType(const AM_MEDIA_TYPE *type) override;
    HRESULT SetMediaType(const AM_MEDIA_TYPE *type) override;
    HRESULT CheckConnect(IPin *pin) override;
    HRESULT BreakConnect() override;
    HRESULT CompleteConnect(IPin *receivePin) override;
    HRESULT Receive(IMediaSample *sample) override;
    HRESULT EndOfStream() override;
    HRESULT BeginFlush() override;
    HRESULT EndFlush() override;

private:
    CTransformFilter *m_pTransformFilter;
};

class CTransformOutputPin : public CBaseOutputPin {
public:
    CTransformOutputPin(CTransformFilter *filter, HRESULT *result, const char *name);
    HRESULT CheckMediaType(const AM_MEDIA_TYPE *type) override;
    HRESULT GetMediaType(int position, AM_MEDIA_TYPE *type) override;
    HRESULT SetMediaType(const AM_MEDIA_TYPE *type) override;
    HRESULT CheckConnect(IPin *pin) override;
    HRESULT BreakConnect() override;
    HRESULT CompleteConnect(IPin *receivePin) override;
    HRESULT DecideBufferSize(IMemAllocator *allocator, ALLOCATOR_PROPERTIES *request) override;

private:
    CTransformFilter *m_pTransformFilter;
};

class CTransformFilter : public CBaseFilter {
public:
    CTransformFilter(const char *name, REFCLSID clsid);
    ~CTransformFilter() override;

    int GetPinCount() override { return 2; }
    CBasePin *GetPin(int n) override;
    HRESULT Stop() override;
    HRESULT Pause() override;

    // The hooks a derived filter implements.
    virtual HRESULT CheckInputType(const AM_MEDIA_TYPE *type) = 0;
    virtual HRESULT CheckTransform(const AM_MEDIA_TYPE *input, const AM_MEDIA_TYPE *output) = 0;
    virtual HRESULT GetMediaType(int position, AM_MEDIA_TYPE *type) = 0;
    virtual HRESULT DecideBufferSize(IMemAllocator *allocator, ALLOCATOR_PROPERTIES *request) = 0;
    virtual HRESULT Transform(IMediaSample *input, IMediaSample *output);

    // Hooks with a default.
    virtual HRESULT SetMediaType(PIN_DIRECTION, const AM_MEDIA_TYPE *) { return S_OK; }
    virtual HRESULT CheckConnect(PIN_DIRECTION, IPin *) { return S_OK; }
    virtual HRESULT BreakConnect(PIN_DIRECTION) { return S_OK; }
    virtual HRESULT CompleteConnect(PIN_DIRECTION, IPin *) { return S_OK; }
    virtual HRESULT StartStreaming() { return S_OK; }
    virtual HRESULT StopStreaming() { return S_OK; }
    // Gets an output sample, copies times and flags, calls Transform and delivers. Transform
    // returning S_FALSE drops the sample.
    virtual HRESULT Receive(IMediaSample *sample);
    virtual HRESULT EndOfStream();
    virtual HRESULT BeginFlush();
    virtual HRESULT EndFlush();

    CTransformInputPin *InputPin() const { return m_pInput.get(); }
    CTransformOutputPin *OutputPin() const { return m_pOutput.get(); }

protected:
    friend class CTransformInputPin;
    // Called when the pins are first needed; override to make pins of derived classes.
    virtual void CreatePins();
    // The checks of GetMediaType for a filter with one output type, made from the connected
    // input: S_OK when `position` asks for that type, otherwise what GetMediaType returns.
    HRESULT OnlyOutputTypeAt(int position, const AM_MEDIA_TYPE *type) const;

    CCritSec m_csFilter;   // state lock
    CCritSec m_csReceive;  // held while a sample is processed
    std::unique_ptr<CTransformInputPin> m_pInput;
    std::unique_ptr<CTransformOutputPin> m_pOutput;
};
