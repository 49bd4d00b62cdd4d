#pragma once

// A component that puts a sample grabber into a graph and hands every sample that passes it
// to an event handler, on the streaming thread, under the component's callback lock.
// Handlers may be changed at any time: once SetOnSample returns, the previous handler is not
// running and will not be called again.

#include "compat/dshow/Components.h"
#include "compat/dshow/Interfaces.h"

#include <functional>
#include <mutex>
#include <string>

class TSampleGrabberEx final : public IFilterComponent, public ISampleGrabberCB {
public:
    using TSampleEvent = std::function<void(TSampleGrabberEx *sender, IMediaSample *sample, double sampleTime)>;
    using TBufferEvent =
        std::function<void(TSampleGrabberEx *sender, BYTE *buffer, LONG length, double sampleTime)>;

    // Raises EDirectShowError " The SampleGrabber Filter is not available on this system. "
    // when no sample grabber can be created.
    explicit TSampleGrabberEx(std::string name = "SampleGrabber");
    ~TSampleGrabberEx() override;
    TSampleGrabberEx(const TSampleGrabberEx &) = delete;
    TSampleGrabberEx &operator=(const TSampleGrabberEx &) = delete;

    void SetFilterGraph(TFilterGraph *graph);
    TFilterGraph *FilterGraph() const override { return m_graph; }
    void ForgetGraph() override;

    void SetOnSample(TSampleEvent handler);
    void SetOnBuffer(TBufferEvent handler);
    bool HasOnSample();

    // 0: sample callback (the default); 1: buffer callback with buffered samples.
    void SetWhichMethodToCallback(int mode);
    int CallbackMode() const { return m_mode; }

    // The media type the grabber is connected with; VFW_E_NOT_CONNECTED / E_FAIL without one.
    HRESULT GetConnectedMediaType(AM_MEDIA_TYPE *type);
    // The grabber's interface while in an active graph, else null.
    ISampleGrabber *SampleGrabber() const { return m_sampleGrabber.Get(); }

    ComPtr<IBaseFilter> GetFilter() override { return m_filter; }
    std::string GetName() override { return m_name; }
    void NotifyFilter(TFilterOperation operation) override;

    // The component is owned by its owner, not by references: AddRef and Release count
    // nothing. Queries it does not answer go to the grabber filter.
    HRESULT QueryInterface(REFIID iid, void **object) override;
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 1; }

    HRESULT SampleCB(double sampleTime, IMediaSample *sample) override;
    HRESULT BufferCB(double sampleTime, BYTE *buffer, LONG length) override;

private:
    void ReportHandlerError(const char *what);

    std::string m_name;
    TFilterGraph *m_graph = nullptr;
    ComPtr<IBaseFilter> m_filter;
    ComPtr<ISampleGrabber> m_sampleGrabber;
    std::recursive_mutex m_callbackLock;
    TSampleEvent m_onSample;
    TBufferEvent m_onBuffer;
    int m_mode = 0;
    bool m_errorReported = false;
};
