#include "compat/dshow/v4l2/V4l2Device.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <linux/videodev2.h>

namespace sc::v4l2 {
namespace {

std::string fixedText(const __u8 *text, size_t size) {
    const char *chars = reinterpret_cast<const char *>(text);
    return std::string(chars, strnlen(chars, size));
}

// Sizes offered for drivers that give a size range instead of a list.
constexpr std::pair<uint32_t, uint32_t> kCommonSizes[] = {
    {320, 240}, {640, 360}, {640, 480}, {800, 448}, {800, 600}, {960, 540},
    {1024, 576}, {1024, 768}, {1280, 720}, {1280, 960}, {1600, 1200}, {1920, 1080},
};

bool fitsStepwise(const v4l2_frmsize_stepwise &range, uint32_t width, uint32_t height) {
    auto onStep = [](uint32_t value, uint32_t min, uint32_t max, uint32_t step) {
        return value >= min && value <= max && (step <= 1 || (value - min) % step == 0);
    };
    return onStep(width, range.min_width, range.max_width, range.step_width) &&
           onStep(height, range.min_height, range.max_height, range.step_height);
}

int64_t durationOf(const v4l2_fract &fraction) {
    return FrameInterval{fraction.numerator, fraction.denominator}.duration100ns();
}

} // namespace

V4l2Error::V4l2Error(const std::string &step, const std::string &device, int errnoValue)
    : std::runtime_error(step + " on " + device + ": " + std::strerror(errnoValue)),
      errnoValue_(errnoValue) {}

bool V4l2Error::deviceGone() const {
    return errnoValue_ == ENODEV || errnoValue_ == ENXIO || errnoValue_ == ENOENT ||
           errnoValue_ == EIO;
}

bool V4l2Error::deviceBusy() const { return errnoValue_ == EBUSY; }

int64_t FrameInterval::duration100ns() const {
    if (denominator == 0)
        return 0;
    return static_cast<int64_t>(numerator) * 10'000'000 / denominator;
}

FrameInterval nearestInterval(const std::vector<FrameInterval> &offered, int64_t duration100ns) {
    FrameInterval best;
    int64_t bestDistance = INT64_MAX;
    for (const FrameInterval &interval : offered) {
        int64_t distance = std::abs(interval.duration100ns() - duration100ns);
        if (distance < bestDistance) {
            best = interval;
            bestDistance = distance;
        }
    }
    return best;
}

std::string fourccText(uint32_t fourcc) {
    std::string text;
    for (int shift = 0; shift < 32; shift += 8) {
        char c = static_cast<char>((fourcc >> shift) & 0xFF);
        text += (c >= 32 && c < 127) ? c : '?';
    }
    return text;
}

std::vector<DeviceIdentity> listCaptureDevices(V4l2Io &io) {
    std::vector<DeviceIdentity> devices;
    for (const std::string &path : io.listNodes()) {
        int fd = io.open(path);
        if (fd < 0)
            continue;
        v4l2_capability caps{};
        if (io.ioctl(fd, VIDIOC_QUERYCAP, &caps) == 0) {
            uint32_t nodeCaps =
                (caps.capabilities & V4L2_CAP_DEVICE_CAPS) ? caps.device_caps : caps.capabilities;
            if ((nodeCaps & V4L2_CAP_VIDEO_CAPTURE) && (nodeCaps & V4L2_CAP_STREAMING)) {
                devices.push_back({path, fixedText(caps.card, sizeof caps.card),
                                   fixedText(caps.bus_info, sizeof caps.bus_info),
                                   fixedText(caps.driver, sizeof caps.driver)});
            }
        }
        io.close(fd);
    }
    return devices;
}

V4l2Device::V4l2Device(std::shared_ptr<V4l2Io> io, int fd, DeviceIdentity identity)
    : io_(std::move(io)), fd_(fd), identity_(std::move(identity)) {}

V4l2Device::~V4l2Device() { io_->close(fd_); }

std::unique_ptr<V4l2Device> V4l2Device::open(std::shared_ptr<V4l2Io> io, const std::string &path) {
    int fd = io->open(path);
    if (fd < 0)
        throw V4l2Error("open", path, -fd);
    v4l2_capability caps{};
    int result = io->ioctl(fd, VIDIOC_QUERYCAP, &caps);
    if (result < 0) {
        io->close(fd);
        throw V4l2Error("VIDIOC_QUERYCAP", path, -result);
    }
    DeviceIdentity identity{path, fixedText(caps.card, sizeof caps.card),
                            fixedText(caps.bus_info, sizeof caps.bus_info),
                            fixedText(caps.driver, sizeof caps.driver)};
    std::unique_ptr<V4l2Device> device(new V4l2Device(std::move(io), fd, std::move(identity)));
    device->readFormats();
    return device;
}

void V4l2Device::check(int result, const char *step) const {
    if (result < 0)
        throw V4l2Error(step, identity_.path + " (" + identity_.card + ")", -result);
}

void V4l2Device::readFormats() {
    for (uint32_t formatIndex = 0;; ++formatIndex) {
        v4l2_fmtdesc description{};
        description.index = formatIndex;
        description.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        int result = io_->ioctl(fd_, VIDIOC_ENUM_FMT, &description);
        if (result == -EINVAL)
            break;
        check(result, "VIDIOC_ENUM_FMT");
        bool compressed = description.flags & V4L2_FMT_FLAG_COMPRESSED;

        std::vector<std::pair<uint32_t, uint32_t>> sizes;
        for (uint32_t sizeIndex = 0;; ++sizeIndex) {
            v4l2_frmsizeenum size{};
            size.index = sizeIndex;
            size.pixel_format = description.pixelformat;
            result = io_->ioctl(fd_, VIDIOC_ENUM_FRAMESIZES, &size);
            if (result == -EINVAL)
                break;
            check(result, "VIDIOC_ENUM_FRAMESIZES");
            if (size.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
                sizes.emplace_back(size.discrete.width, size.discrete.height);
                continue;
            }
            for (auto [width, height] : kCommonSizes)
                if (fitsStepwise(size.stepwise, width, height))
                    sizes.emplace_back(width, height);
            auto largest = std::make_pair(size.stepwise.max_width, size.stepwise.max_height);
            if (std::find(sizes.begin(), sizes.end(), largest) == sizes.end())
                sizes.push_back(largest);
            break;
        }
        for (auto [width, height] : sizes) {
            CaptureFormat format{description.pixelformat, width, height, compressed,
                                 readIntervals(description.pixelformat, width, height)};
            formats_.push_back(std::move(format));
        }
    }
}

std::vector<FrameInterval> V4l2Device::readIntervals(uint32_t pixelFormat, uint32_t width,
                                                     uint32_t height) {
    std::vector<FrameInterval> intervals;
    for (uint32_t index = 0;; ++index) {
        v4l2_frmivalenum interval{};
        interval.index = index;
        interval.pixel_format = pixelFormat;
        interval.width = width;
        interval.height = height;
        int result = io_->ioctl(fd_, VIDIOC_ENUM_FRAMEINTERVALS, &interval);
        if (result < 0)
            break;  // drivers without interval lists answer EINVAL or ENOTTY
        if (interval.type == V4L2_FRMIVAL_TYPE_DISCRETE) {
            intervals.push_back({interval.discrete.numerator, interval.discrete.denominator});
            continue;
        }
        // A range: offer its ends and the usual rates inside it.
        const v4l2_fract &shortest = interval.stepwise.min;
        const v4l2_fract &longest = interval.stepwise.max;
        intervals.push_back({shortest.numerator, shortest.denominator});
        for (uint32_t rate : {30u, 25u, 20u, 15u, 10u, 5u}) {
            int64_t duration = FrameInterval{1, rate}.duration100ns();
            if (duration > durationOf(shortest) && duration < durationOf(longest))
                intervals.push_back({1, rate});
        }
        if (durationOf(longest) != durationOf(shortest))
            intervals.push_back({longest.numerator, longest.denominator});
        break;
    }
    std::stable_sort(intervals.begin(), intervals.end(), [](const auto &a, const auto &b) {
        return a.duration100ns() < b.duration100ns();
    });
    return intervals;
}

AppliedFormat V4l2Device::setFormat(uint32_t pixelFormat, uint32_t width, uint32_t height,
                                    int64_t frameDuration100ns) {
    v4l2_format format{};
    format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    format.fmt.pix.pixelformat = pixelFormat;
    format.fmt.pix.width = width;
    format.fmt.pix.height = height;
    format.fmt.pix.field = V4L2_FIELD_NONE;
    check(io_->ioctl(fd_, VIDIOC_S_FMT, &format), "VIDIOC_S_FMT");
    if (format.fmt.pix.pixelformat != pixelFormat || format.fmt.pix.width != width ||
        format.fmt.pix.height != height) {
        throw V4l2Error("VIDIOC_S_FMT " + fourccText(pixelFormat) + " " + std::to_string(width) +
                            "x" + std::to_string(height) + " (driver chose " +
                            fourccText(format.fmt.pix.pixelformat) + " " +
                            std::to_string(format.fmt.pix.width) + "x" +
                            std::to_string(format.fmt.pix.height) + ")",
                        identity_.path, EINVAL);
    }

    if (frameDuration100ns > 0) {
        auto offered = std::find_if(formats_.begin(), formats_.end(), [&](const CaptureFormat &f) {
            return f.pixelFormat == pixelFormat && f.width == width && f.height == height;
        });
        if (offered != formats_.end() && !offered->intervals.empty()) {
            FrameInterval chosen = nearestInterval(offered->intervals, frameDuration100ns);
            v4l2_streamparm parameters{};
            parameters.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            parameters.parm.capture.timeperframe = {chosen.numerator, chosen.denominator};
            int result = io_->ioctl(fd_, VIDIOC_S_PARM, &parameters);
            // Drivers without frame rate control answer ENOTTY; the picture format stands.
            if (result != -ENOTTY && result != -EINVAL)
                check(result, "VIDIOC_S_PARM");
        }
    }
    return currentFormat();
}

AppliedFormat V4l2Device::currentFormat() {
    v4l2_format format{};
    format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    check(io_->ioctl(fd_, VIDIOC_G_FMT, &format), "VIDIOC_G_FMT");
    AppliedFormat applied{format.fmt.pix.pixelformat, format.fmt.pix.width, format.fmt.pix.height,
                          format.fmt.pix.bytesperline, format.fmt.pix.sizeimage, {}};
    v4l2_streamparm parameters{};
    parameters.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (io_->ioctl(fd_, VIDIOC_G_PARM, &parameters) == 0) {
        const v4l2_fract &time = parameters.parm.capture.timeperframe;
        applied.interval = {time.numerator, time.denominator};
    }
    return applied;
}

} // namespace sc::v4l2
