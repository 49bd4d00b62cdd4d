#pragma once

#include "compat/dshow/Devices.h"
#include "compat/dshow/v4l2/V4l2Device.h"
#include "compat/dshow/v4l2/V4l2Io.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace sc::test {

// A scripted camera for the V4L2 layer: answers the ioctls a capture driver answers, hands out
// memory for the mapped buffers and fills them at the chosen frame interval.
struct FakeCamera {
    struct Format {
        uint32_t pixelFormat = 0;
        bool compressed = false;
        std::vector<std::pair<uint32_t, uint32_t>> sizes;  // discrete sizes
        std::optional<std::pair<uint32_t, uint32_t>> maxSize;  // instead: a stepwise range 16..max
        std::vector<v4l2::FrameInterval> intervals;
    };
    using PictureMaker = std::function<std::vector<uint8_t>(uint32_t pixelFormat, uint32_t width,
                                                            uint32_t height, uint32_t sequence)>;

    std::string path = "/dev/video0";
    std::string card = "Fake Camera";
    std::string busInfo = "usb-0000:00:14.0-1";
    bool streamingCapture = true;  // false: a metadata node
    std::vector<Format> formats;
    // Default picture: every byte is the frame's sequence number.
    PictureMaker picture;
    bool busy = false;  // another program streams from it: S_FMT and REQBUFS answer EBUSY
};

class FakeV4l2Io final : public v4l2::V4l2Io {
public:
    void addCamera(FakeCamera camera);
    // The device disappears: open fails, waiting and dequeuing answer ENODEV.
    void unplug(const std::string &path);
    void unplugAfterFrames(const std::string &path, uint32_t frames);
    // What the driver was last asked to apply.
    v4l2::AppliedFormat applied(const std::string &path);
    uint32_t framesDelivered(const std::string &path);
    int openDescriptors();
    int mappedBuffers();

    std::vector<std::string> listNodes() override;
    int open(const std::string &path) override;
    void close(int fd) override;
    int ioctl(int fd, unsigned long request, void *arg) override;
    void *mmap(int fd, size_t length, off_t offset) override;
    void munmap(void *address, size_t length) override;
    int waitForFrame(int fd, int wakeFd, int timeoutMs) override;

private:
    struct Buffer {
        std::vector<uint8_t> memory;
        bool queued = false;
        bool filled = false;
        uint32_t bytesUsed = 0;
        uint32_t sequence = 0;
        int64_t timestamp100ns = 0;
    };
    struct Device {
        FakeCamera camera;
        bool present = true;
        std::optional<uint32_t> unplugAfter;
        v4l2::AppliedFormat format;
        std::vector<Buffer> buffers;
        int mapped = 0;
        bool streaming = false;
        uint32_t sequence = 0;
        std::chrono::steady_clock::time_point nextFrame;
    };

    Device *deviceOf(int fd);
    int handle(Device &device, unsigned long request, void *arg);
    bool fillNextBuffer(Device &device);

    std::mutex mutex_;
    std::map<std::string, Device> devices_;
    std::map<int, std::string> descriptors_;
    int nextFd_ = 1000;
};

// Scripted cameras for the whole process during a test: they are the video input devices of
// the system device enumerator (after any real ones) until this object is destroyed.
class ScopedFakeCameras {
public:
    explicit ScopedFakeCameras(const std::vector<FakeCamera> &cameras);
    ~ScopedFakeCameras();
    ScopedFakeCameras(const ScopedFakeCameras &) = delete;
    ScopedFakeCameras &operator=(const ScopedFakeCameras &) = delete;
    FakeV4l2Io &io() { return *io_; }

private:
    std::shared_ptr<FakeV4l2Io> io_;
    std::shared_ptr<DeviceSource> source_;
};

} // namespace sc::test
