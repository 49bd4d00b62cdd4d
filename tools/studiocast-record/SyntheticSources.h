#pragma once

// Stand-ins for the program's picture sources: each runs a graph of its own (push source →
// sample grabber → null renderer) fed by a thread that paints a picture at a steady rate, so
// the preview sees its frames arrive exactly as from a camera view or a panel capture.

#include "capture/DeliverSources.h"
#include "capture/SampleGrabberExs.h"

#include "compat/dshow/Components.h"

#include <atomic>
#include <functional>
#include <thread>
#include <vector>

enum class TSyntheticKind {
    Camera,       // YUY2 test picture: colour bars with a moving bar
    Slide,        // RGB32 bottom-up: a slide with a title and lines of text
    Drawing,      // RGB32 bottom-up: a white board with a stroke that grows
};

class TSyntheticSource {
public:
    TSyntheticSource(const char *name, TSyntheticKind kind, int width, int height, int framesPerSecond, int seed);
    ~TSyntheticSource();
    TSyntheticSource(const TSyntheticSource &) = delete;
    TSyntheticSource &operator=(const TSyntheticSource &) = delete;

    // Builds and runs the source graph and starts painting; each frame goes to `onSample` on
    // the painting thread. Raises EDirectShowError with the failing step.
    void Start(TSampleGrabberEx::TSampleEvent onSample);
    void Stop();

    // The type the grabber is connected with (what the preview's matching media type gets).
    const AM_MEDIA_TYPE &MediaType() const { return m_connected; }
    int64_t FramesSent() const { return m_sent.load(); }

private:
    void Paint(int frame);
    void Run();

    TSyntheticKind m_kind;
    int m_width, m_height, m_fps, m_seed;
    AM_MEDIA_TYPE m_type;
    AM_MEDIA_TYPE m_connected;
    std::vector<uint8_t> m_base;
    std::vector<uint8_t> m_picture;

    TFilterGraph m_graph;
    TSampleGrabberEx m_grabber;
    TFilter m_nullRenderer;
    ComPtr<TDeliverSource> m_source;
    std::thread m_thread;
    std::atomic<bool> m_running{false};
    std::atomic<int64_t> m_sent{0};
};
