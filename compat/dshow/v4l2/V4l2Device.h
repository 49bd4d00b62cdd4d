#pragma once

#include "compat/dshow/v4l2/V4l2Io.h"

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace sc::v4l2 {

// A failed device call: which call, on which device, and the errno it gave.
class V4l2Error : public std::runtime_error {
public:
    V4l2Error(const std::string &step, const std::string &device, int errnoValue);
    int errnoValue() const { return errnoValue_; }
    bool deviceGone() const;  // unplugged or removed
    bool deviceBusy() const;  // in use by another program

private:
    int errnoValue_;
};

struct FrameInterval {
    uint32_t numerator = 0;
    uint32_t denominator = 0;
    // In 100 ns units, rounded down (1/15 s gives 666666).
    int64_t duration100ns() const;
    bool operator==(const FrameInterval &) const = default;
};

// One picture format the device offers: a pixel format at one size, with its frame intervals
// (shortest first).
struct CaptureFormat {
    uint32_t pixelFormat = 0;
    uint32_t width = 0;
    uint32_t height = 0;
    bool compressed = false;
    std::vector<FrameInterval> intervals;
};

// The format the driver actually applied.
struct AppliedFormat {
    uint32_t pixelFormat = 0;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t bytesPerLine = 0;
    uint32_t imageSize = 0;
    FrameInterval interval;
};

struct DeviceIdentity {
    std::string path;
    std::string card;     // the device's name as the driver gives it
    std::string busInfo;  // where it is plugged in; stays the same when it is replugged there
    std::string driver;
    // Stable identity among the devices present: the bus info, or the node path when the
    // driver gives none.
    std::string stableId() const { return busInfo.empty() ? path : busInfo; }
};

// The capture devices present, in node order. Nodes that cannot stream pictures (metadata,
// output, codecs) are left out, as are nodes that cannot be opened at all.
std::vector<DeviceIdentity> listCaptureDevices(V4l2Io &io);

// One open capture node.
class V4l2Device {
public:
    // Opens the node and reads its identity and its formats. Throws V4l2Error.
    static std::unique_ptr<V4l2Device> open(std::shared_ptr<V4l2Io> io, const std::string &path);
    ~V4l2Device();
    V4l2Device(const V4l2Device &) = delete;
    V4l2Device &operator=(const V4l2Device &) = delete;

    const DeviceIdentity &identity() const { return identity_; }
    // Every (pixel format, size) the device lists, in the driver's order.
    const std::vector<CaptureFormat> &formats() const { return formats_; }

    // Applies a pixel format, a size and the offered frame interval nearest to the requested
    // duration (0 keeps the driver's). Throws V4l2Error; a device in use by another program
    // gives deviceBusy().
    AppliedFormat setFormat(uint32_t pixelFormat, uint32_t width, uint32_t height,
                            int64_t frameDuration100ns);
    AppliedFormat currentFormat();

    V4l2Io &io() { return *io_; }
    int fd() const { return fd_; }
    void check(int result, const char *step) const;

private:
    V4l2Device(std::shared_ptr<V4l2Io> io, int fd, DeviceIdentity identity);
    void readFormats();
    std::vector<FrameInterval> readIntervals(uint32_t pixelFormat, uint32_t width, uint32_t height);

    std::shared_ptr<V4l2Io> io_;
    int fd_;
    DeviceIdentity identity_;
    std::vector<CaptureFormat> formats_;
};

// The interval of `offered` nearest to the requested duration; the first on ties.
FrameInterval nearestInterval(const std::vector<FrameInterval> &offered, int64_t duration100ns);

std::string fourccText(uint32_t fourcc);

} // namespace sc::v4l2
