// A small graph for the resize filter: a push source that delivers prepared RGB32 frames with
// their times and marks, the filter under test, and the platform's sample grabber recording
// what comes out.
#pragma once

#include "compat/com/ClassRegistry.h"
#include "compat/dshow/FilterGraph.h"
#include "compat/dshow/SourceFilter.h"
#include "compat/dshow/Uuids.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace framescaler_test {

inline const CLSID kTestSourceClsid = MakeGuid("{7A5E1A10-3C1B-4E44-9A1D-5D7E3C2B1A01}");

struct Frame {
    std::vector<uint8_t> bytes;
    REFERENCE_TIME start = 0, stop = 0;
    bool syncPoint = false;
    bool discontinuity = false;
    bool hasMediaTime = false;
    int64_t mediaStart = 0, mediaStop = 0;
    AM_MEDIA_TYPE type; // the connection type for sources, the sample's own type for grabs
};

inline AM_MEDIA_TYPE rgb32Type(int32_t width, int32_t height)
{
    AM_MEDIA_TYPE type = MakeVideoType(MEDIASUBTYPE_RGB32, width, height, 32);
    type.lSampleSize = uint32_t(width) * uint32_t(height) * 4;
    return type;
}

class PushSourcePin final : public CSourceStream {
public:
    PushSourcePin(CSource* filter, HRESULT* hr, AM_MEDIA_TYPE type, std::vector<Frame> frames)
        : CSourceStream(filter, hr, "Out"), m_type(std::move(type)), m_frames(std::move(frames))
    {
    }

    // Frames are held back until the test has the whole graph running.
    void release()
    {
        std::lock_guard guard(m_lock);
        m_released = true;
    }

    HRESULT GetMediaType(int position, AM_MEDIA_TYPE* type) override
    {
        if (position < 0)
            return E_INVALIDARG;
        if (position > 0)
            return VFW_S_NO_MORE_ITEMS;
        *type = m_type;
        return S_OK;
    }

    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override
    {
        size_t largest = 1;
        for (const Frame& f : m_frames)
            largest = std::max(largest, f.bytes.size());
        request->cBuffers = 1;
        request->cbBuffer = int32_t(largest);
        ALLOCATOR_PROPERTIES actual;
        return allocator->SetProperties(request, &actual);
    }

    HRESULT FillBuffer(IMediaSample* sample) override
    {
        while (!StopRequested()) {
            {
                std::lock_guard guard(m_lock);
                if (m_released)
                    break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        if (StopRequested() || m_next >= m_frames.size())
            return S_FALSE;
        const Frame& f = m_frames[m_next++];
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        std::memcpy(data, f.bytes.data(), f.bytes.size());
        sample->SetActualDataLength(LONG(f.bytes.size()));
        sample->SetTime(&f.start, &f.stop);
        if (f.hasMediaTime)
            sample->SetMediaTime(&f.mediaStart, &f.mediaStop);
        sample->SetSyncPoint(f.syncPoint);
        sample->SetDiscontinuity(f.discontinuity);
        return S_OK;
    }

private:
    AM_MEDIA_TYPE m_type;
    std::vector<Frame> m_frames;
    size_t m_next = 0;
    std::mutex m_lock;
    bool m_released = false;
};

class PushSource final : public CSource {
public:
    PushSource(AM_MEDIA_TYPE type, std::vector<Frame> frames) : CSource("Push Source", kTestSourceClsid)
    {
        HRESULT hr = S_OK;
        auto pin = std::make_unique<PushSourcePin>(this, &hr, std::move(type), std::move(frames));
        m_pin = pin.get();
        AddPin(std::move(pin));
    }
    PushSourcePin* pin() const { return m_pin; }

private:
    PushSourcePin* m_pin;
};

// Records every sample the grabber hands over, on the streaming thread.
class GrabRecorder final : public CUnknown, public ISampleGrabberCB {
public:
    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override
    {
        if (iid == IID_ISampleGrabberCB)
            return GetInterface(static_cast<ISampleGrabberCB*>(this), object);
        return CUnknown::NonDelegatingQueryInterface(iid, object);
    }

    HRESULT SampleCB(double, IMediaSample* sample) override
    {
        Frame f;
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        f.bytes.assign(data, data + sample->GetActualDataLength());
        f.syncPoint = sample->IsSyncPoint() == S_OK;
        f.discontinuity = sample->IsDiscontinuity() == S_OK;
        sample->GetTime(&f.start, &f.stop);
        f.hasMediaTime = sample->GetMediaTime(&f.mediaStart, &f.mediaStop) == S_OK;
        AM_MEDIA_TYPE* type = nullptr;
        if (sample->GetMediaType(&type) == S_OK && type != nullptr) {
            f.type = *type;
            DeleteMediaType(type);
        }
        std::lock_guard guard(m_lock);
        m_frames.push_back(std::move(f));
        m_arrived.notify_all();
        return S_OK;
    }
    HRESULT BufferCB(double, BYTE*, LONG) override { return S_OK; }

    // The frames once `count` have arrived, or what came within a generous limit.
    std::vector<Frame> waitFor(size_t count)
    {
        std::unique_lock guard(m_lock);
        m_arrived.wait_for(guard, std::chrono::seconds(30), [&] { return m_frames.size() >= count; });
        return m_frames;
    }

private:
    std::mutex m_lock;
    std::condition_variable m_arrived;
    std::vector<Frame> m_frames;
};

inline ComPtr<IPin> pinOf(IBaseFilter* filter, PIN_DIRECTION direction)
{
    auto pins = PinsOf(filter, direction);
    return pins.empty() ? nullptr : pins.front();
}

// Source -> scaler -> sample grabber, connected directly; run() releases the frames.
class ScalerGraph {
public:
    ScalerGraph(IBaseFilter* scaler, AM_MEDIA_TYPE type, std::vector<Frame> frames) : m_scaler(scaler)
    {
        m_source = new PushSource(std::move(type), std::move(frames));
        m_recorder = new GrabRecorder();
        m_graphResult = CoCreate(CLSID_FilterGraph, &m_graph);
        if (FAILED(m_graphResult))
            return;
        m_graphResult = CoCreate(CLSID_SampleGrabber, &m_grabberFilter);
        if (FAILED(m_graphResult))
            return;
        m_grabberFilter.As(&m_grabber);
        m_grabber->SetCallback(m_recorder.Get(), 0);
        m_graph->AddFilter(m_source.Get(), "Source");
        m_graph->AddFilter(scaler, "Scaler");
        m_graph->AddFilter(m_grabberFilter.Get(), "Grabber");
    }

    ~ScalerGraph()
    {
        if (m_graph) {
            if (auto control = m_graph.As<IMediaControl>())
                control->Stop();
        }
    }

    HRESULT connectInput()
    {
        if (FAILED(m_graphResult))
            return m_graphResult;
        return m_graph->ConnectDirect(pinOf(m_source.Get(), PINDIR_OUTPUT).Get(),
                                      pinOf(m_scaler, PINDIR_INPUT).Get(), nullptr);
    }
    HRESULT connectOutput()
    {
        return m_graph->ConnectDirect(pinOf(m_scaler, PINDIR_OUTPUT).Get(),
                                      pinOf(m_grabberFilter.Get(), PINDIR_INPUT).Get(), nullptr);
    }
    HRESULT connect()
    {
        const HRESULT hr = connectInput();
        return FAILED(hr) ? hr : connectOutput();
    }

    std::vector<Frame> run(size_t expected)
    {
        auto control = m_graph.As<IMediaControl>();
        if (!control || FAILED(control->Run()))
            return {};
        m_source->pin()->release();
        auto frames = m_recorder->waitFor(expected);
        control->Stop();
        return frames;
    }

    IBaseFilter* scaler() const { return m_scaler; }

private:
    IBaseFilter* m_scaler;
    HRESULT m_graphResult = S_OK;
    ComPtr<PushSource> m_source;
    ComPtr<GrabRecorder> m_recorder;
    ComPtr<IGraphBuilder> m_graph;
    ComPtr<IBaseFilter> m_grabberFilter;
    ComPtr<ISampleGrabber> m_grabber;
};

} // namespace framescaler_test
