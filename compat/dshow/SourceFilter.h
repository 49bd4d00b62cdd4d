#pragma once

// A source filter whose output pins each run a streaming thread from the filter's leaving
// the stopped state until it stops. A derived pin implements GetMediaType/CheckMediaType,
// DecideBufferSize and FillBuffer; FillBuffer runs on the pin's thread and must not take the
// filter's state lock (Stop holds it while it waits for the thread).

#include "compat/dshow/BaseFilter.h"

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

class CSource;

class CSourceStream : public CBaseOutputPin {
public:
    CSourceStream(CSource *filter, HRESULT *result, const char *name);
    ~CSourceStream() override;

    // Fills one sample: S_OK delivers it, S_FALSE ends the stream, a failure stops the thread.
    virtual HRESULT FillBuffer(IMediaSample *sample) = 0;
    virtual HRESULT OnThreadCreate() { return S_OK; }
    virtual HRESULT OnThreadDestroy() { return S_OK; }

    HRESULT Active() override;
    HRESULT Inactive() override;
    HRESULT CheckMediaType(const AM_MEDIA_TYPE *type) override;

protected:
    // True once the pin has been told to stop; long FillBuffer waits poll it.
    bool StopRequested() const { return m_stop.load(std::memory_order_acquire); }

private:
    void ThreadProc();

    std::thread m_thread;
    std::atomic<bool> m_stop{false};
};

class CSource : public CBaseFilter {
public:
    CSource(const char *name, REFCLSID clsid);
    ~CSource() override;

    int GetPinCount() override;
    CBasePin *GetPin(int n) override;

    // The filter owns the pins it is given.
    void AddPin(std::unique_ptr<CSourceStream> pin);

protected:
    CCritSec m_cStateLock;
    std::vector<std::unique_ptr<CSourceStream>> m_Pins;
};
