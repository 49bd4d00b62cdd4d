#pragma once

#include "compat/dshow/v4l2/V4l2Device.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>
#include <vector>

namespace sc::v4l2 {

// Now on the monotonic clock that frame times are taken on, in 100 ns units.
int64_t monotonicNow100ns();

// One picture as the driver filled it; valid only during the frame handler.
struct CapturedFrame {
    const uint8_t *data = nullptr;
    size_t size = 0;
    int64_t captureTime100ns = 0;  // on the monotonic clock
    uint32_t sequence = 0;
};

// Memory-mapped streaming from an open device on a thread of its own. The handlers run on that
// thread. A device failure (unplugged, I/O error) ends the thread after one call of the error
// handler; stop() is then still needed and never blocks on the dead device.
class CaptureStream {
public:
    using FrameHandler = std::function<void(const CapturedFrame &)>;
    using ErrorHandler = std::function<void(const V4l2Error &)>;

    explicit CaptureStream(V4l2Device &device, unsigned bufferCount = 4);
    ~CaptureStream();
    CaptureStream(const CaptureStream &) = delete;
    CaptureStream &operator=(const CaptureStream &) = delete;

    // Maps the buffers and starts streaming. Throws V4l2Error (busy device: deviceBusy()).
    void start(FrameHandler onFrame, ErrorHandler onError);
    // Ends streaming and waits for the thread; safe to call more than once and from any thread
    // but the streaming thread itself.
    void stop();
    bool running() const { return thread_.joinable(); }

private:
    struct MappedBuffer {
        void *address = nullptr;
        size_t length = 0;
    };

    void run();
    void releaseBuffers();

    V4l2Device &device_;
    unsigned bufferCount_;
    std::vector<MappedBuffer> buffers_;
    int wakeFd_ = -1;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
    FrameHandler onFrame_;
    ErrorHandler onError_;
};

} // namespace sc::v4l2
