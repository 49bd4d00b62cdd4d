#include "tests/support/FakeV4l2Io.h"

#include "compat/dshow/v4l2/V4l2DeviceSource.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <linux/videodev2.h>
#include <poll.h>
#include <thread>

namespace sc::test {
namespace {

constexpr off_t kBufferSpacing = 1 << 24;

void copyText(__u8 *destination, size_t size, const std::string &text) {
    std::memset(destination, 0, size);
    std::memcpy(destination, text.data(), std::min(size - 1, text.size()));
}

uint32_t bytesPerPixelLine(uint32_t pixelFormat, uint32_t width) {
    switch (pixelFormat) {
    case V4L2_PIX_FMT_YUYV:
    case V4L2_PIX_FMT_UYVY: return width * 2;
    case V4L2_PIX_FMT_RGB24:
    case V4L2_PIX_FMT_BGR24: return width * 3;
    default: return 0;  // compressed
    }
}

int64_t monotonic100ns() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 10'000'000 + now.tv_nsec / 100;
}

} // namespace

void FakeV4l2Io::addCamera(FakeCamera camera) {
    std::lock_guard lock(mutex_);
    std::string path = camera.path;
    devices_[path].camera = std::move(camera);
}

void FakeV4l2Io::unplug(const std::string &path) {
    std::lock_guard lock(mutex_);
    devices_.at(path).present = false;
}

void FakeV4l2Io::unplugAfterFrames(const std::string &path, uint32_t frames) {
    std::lock_guard lock(mutex_);
    devices_.at(path).unplugAfter = frames;
}

v4l2::AppliedFormat FakeV4l2Io::applied(const std::string &path) {
    std::lock_guard lock(mutex_);
    return devices_.at(path).format;
}

uint32_t FakeV4l2Io::framesDelivered(const std::string &path) {
    std::lock_guard lock(mutex_);
    return devices_.at(path).sequence;
}

int FakeV4l2Io::openDescriptors() {
    std::lock_guard lock(mutex_);
    return static_cast<int>(descriptors_.size());
}

int FakeV4l2Io::mappedBuffers() {
    std::lock_guard lock(mutex_);
    int mapped = 0;
    for (auto &entry : devices_)
        mapped += entry.second.mapped;
    return mapped;
}

std::vector<std::string> FakeV4l2Io::listNodes() {
    std::lock_guard lock(mutex_);
    std::vector<std::string> nodes;
    for (auto &[path, device] : devices_)
        if (device.present)
            nodes.push_back(path);
    return nodes;
}

int FakeV4l2Io::open(const std::string &path) {
    std::lock_guard lock(mutex_);
    auto found = devices_.find(path);
    if (found == devices_.end() || !found->second.present)
        return -ENOENT;
    descriptors_[nextFd_] = path;
    return nextFd_++;
}

void FakeV4l2Io::close(int fd) {
    std::lock_guard lock(mutex_);
    descriptors_.erase(fd);
}

FakeV4l2Io::Device *FakeV4l2Io::deviceOf(int fd) {
    auto found = descriptors_.find(fd);
    return found == descriptors_.end() ? nullptr : &devices_.at(found->second);
}

int FakeV4l2Io::ioctl(int fd, unsigned long request, void *arg) {
    std::lock_guard lock(mutex_);
    Device *device = deviceOf(fd);
    if (!device)
        return -EBADF;
    if (!device->present)
        return -ENODEV;
    return handle(*device, request, arg);
}

int FakeV4l2Io::handle(Device &device, unsigned long request, void *arg) {
    const FakeCamera &camera = device.camera;
    auto formatOf = [&](uint32_t pixelFormat) -> const FakeCamera::Format * {
        for (const auto &format : camera.formats)
            if (format.pixelFormat == pixelFormat)
                return &format;
        return nullptr;
    };
    switch (request) {
    case VIDIOC_QUERYCAP: {
        auto *caps = static_cast<v4l2_capability *>(arg);
        copyText(caps->driver, sizeof caps->driver, "fakecam");
        copyText(caps->card, sizeof caps->card, camera.card);
        copyText(caps->bus_info, sizeof caps->bus_info, camera.busInfo);
        caps->device_caps = camera.streamingCapture
                                ? V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING
                                : V4L2_CAP_META_CAPTURE | V4L2_CAP_STREAMING;
        caps->capabilities = caps->device_caps | V4L2_CAP_DEVICE_CAPS;
        return 0;
    }
    case VIDIOC_ENUM_FMT: {
        auto *description = static_cast<v4l2_fmtdesc *>(arg);
        if (description->index >= camera.formats.size())
            return -EINVAL;
        const auto &format = camera.formats[description->index];
        description->pixelformat = format.pixelFormat;
        description->flags = format.compressed ? V4L2_FMT_FLAG_COMPRESSED : 0;
        return 0;
    }
    case VIDIOC_ENUM_FRAMESIZES: {
        auto *size = static_cast<v4l2_frmsizeenum *>(arg);
        const auto *format = formatOf(size->pixel_format);
        if (!format)
            return -EINVAL;
        if (format->maxSize) {
            if (size->index > 0)
                return -EINVAL;
            size->type = V4L2_FRMSIZE_TYPE_STEPWISE;
            size->stepwise = {16, format->maxSize->first, 16, 16, format->maxSize->second, 16};
            return 0;
        }
        if (size->index >= format->sizes.size())
            return -EINVAL;
        size->type = V4L2_FRMSIZE_TYPE_DISCRETE;
        size->discrete = {format->sizes[size->index].first, format->sizes[size->index].second};
        return 0;
    }
    case VIDIOC_ENUM_FRAMEINTERVALS: {
        auto *interval = static_cast<v4l2_frmivalenum *>(arg);
        const auto *format = formatOf(interval->pixel_format);
        if (!format || interval->index >= format->intervals.size())
            return -EINVAL;
        interval->type = V4L2_FRMIVAL_TYPE_DISCRETE;
        interval->discrete = {format->intervals[interval->index].numerator,
                              format->intervals[interval->index].denominator};
        return 0;
    }
    case VIDIOC_S_FMT: {
        if (camera.busy)
            return -EBUSY;
        auto *format = static_cast<v4l2_format *>(arg);
        const auto *offered = formatOf(format->fmt.pix.pixelformat);
        if (!offered)
            offered = &camera.formats.front();
        // Like drivers, fall back to the nearest offered size instead of failing.
        uint32_t width = format->fmt.pix.width, height = format->fmt.pix.height;
        if (offered->maxSize) {
            width = std::clamp(width / 16 * 16, 16u, offered->maxSize->first);
            height = std::clamp(height / 16 * 16, 16u, offered->maxSize->second);
        } else {
            auto distance = [&](const std::pair<uint32_t, uint32_t> &size) {
                return std::abs(int64_t(size.first) - width) + std::abs(int64_t(size.second) - height);
            };
            auto nearest = std::min_element(offered->sizes.begin(), offered->sizes.end(),
                                            [&](auto &a, auto &b) { return distance(a) < distance(b); });
            width = nearest->first;
            height = nearest->second;
        }
        uint32_t line = bytesPerPixelLine(offered->pixelFormat, width);
        format->fmt.pix.pixelformat = offered->pixelFormat;
        format->fmt.pix.width = width;
        format->fmt.pix.height = height;
        format->fmt.pix.bytesperline = line;
        format->fmt.pix.sizeimage = line ? line * height : width * height * 2;
        device.format.pixelFormat = offered->pixelFormat;
        device.format.width = width;
        device.format.height = height;
        device.format.bytesPerLine = line;
        device.format.imageSize = format->fmt.pix.sizeimage;
        if (device.format.interval.denominator == 0 && !offered->intervals.empty())
            device.format.interval = offered->intervals.front();
        return 0;
    }
    case VIDIOC_G_FMT: {
        auto *format = static_cast<v4l2_format *>(arg);
        format->fmt.pix.pixelformat = device.format.pixelFormat;
        format->fmt.pix.width = device.format.width;
        format->fmt.pix.height = device.format.height;
        format->fmt.pix.bytesperline = device.format.bytesPerLine;
        format->fmt.pix.sizeimage = device.format.imageSize;
        return 0;
    }
    case VIDIOC_S_PARM: {
        auto *parameters = static_cast<v4l2_streamparm *>(arg);
        const auto *offered = formatOf(device.format.pixelFormat);
        if (!offered || offered->intervals.empty())
            return -ENOTTY;
        const v4l2_fract &wanted = parameters->parm.capture.timeperframe;
        device.format.interval = v4l2::nearestInterval(
            offered->intervals, v4l2::FrameInterval{wanted.numerator, wanted.denominator}.duration100ns());
        parameters->parm.capture.timeperframe = {device.format.interval.numerator,
                                                 device.format.interval.denominator};
        return 0;
    }
    case VIDIOC_G_PARM: {
        auto *parameters = static_cast<v4l2_streamparm *>(arg);
        parameters->parm.capture.capability = V4L2_CAP_TIMEPERFRAME;
        parameters->parm.capture.timeperframe = {device.format.interval.numerator,
                                                 device.format.interval.denominator};
        return 0;
    }
    case VIDIOC_REQBUFS: {
        auto *request = static_cast<v4l2_requestbuffers *>(arg);
        if (request->count > 0 && camera.busy)
            return -EBUSY;
        if (device.mapped > 0 && request->count > 0)
            return -EBUSY;
        device.buffers.assign(request->count, Buffer{});
        for (Buffer &buffer : device.buffers)
            buffer.memory.resize(device.format.imageSize);
        return 0;
    }
    case VIDIOC_QUERYBUF: {
        auto *buffer = static_cast<v4l2_buffer *>(arg);
        if (buffer->index >= device.buffers.size())
            return -EINVAL;
        buffer->length = static_cast<uint32_t>(device.buffers[buffer->index].memory.size());
        buffer->m.offset = static_cast<uint32_t>(buffer->index * kBufferSpacing);
        return 0;
    }
    case VIDIOC_QBUF: {
        auto *buffer = static_cast<v4l2_buffer *>(arg);
        if (buffer->index >= device.buffers.size())
            return -EINVAL;
        device.buffers[buffer->index].queued = true;
        device.buffers[buffer->index].filled = false;
        return 0;
    }
    case VIDIOC_DQBUF: {
        auto *out = static_cast<v4l2_buffer *>(arg);
        for (uint32_t index = 0; index < device.buffers.size(); ++index) {
            Buffer &buffer = device.buffers[index];
            if (buffer.queued && buffer.filled) {
                buffer.queued = false;
                out->index = index;
                out->bytesused = buffer.bytesUsed;
                out->sequence = buffer.sequence;
                out->flags = V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC;
                out->timestamp.tv_sec = buffer.timestamp100ns / 10'000'000;
                out->timestamp.tv_usec = (buffer.timestamp100ns % 10'000'000) / 10;
                return 0;
            }
        }
        return -EAGAIN;
    }
    case VIDIOC_STREAMON:
        device.streaming = true;
        device.nextFrame = std::chrono::steady_clock::now();
        return 0;
    case VIDIOC_STREAMOFF:
        device.streaming = false;
        for (Buffer &buffer : device.buffers)
            buffer.queued = buffer.filled = false;
        return 0;
    default:
        return -ENOTTY;
    }
}

void *FakeV4l2Io::mmap(int fd, size_t length, off_t offset) {
    std::lock_guard lock(mutex_);
    Device *device = deviceOf(fd);
    size_t index = static_cast<size_t>(offset / kBufferSpacing);
    if (!device || index >= device->buffers.size() || device->buffers[index].memory.size() != length)
        return nullptr;
    ++device->mapped;
    return device->buffers[index].memory.data();
}

void FakeV4l2Io::munmap(void *address, size_t) {
    std::lock_guard lock(mutex_);
    for (auto &[path, device] : devices_)
        for (Buffer &buffer : device.buffers)
            if (buffer.memory.data() == address)
                --device.mapped;
}

bool FakeV4l2Io::fillNextBuffer(Device &device) {
    for (Buffer &buffer : device.buffers) {
        if (!buffer.queued || buffer.filled)
            continue;
        const FakeCamera &camera = device.camera;
        const auto &format = device.format;
        std::vector<uint8_t> picture =
            camera.picture ? camera.picture(format.pixelFormat, format.width, format.height, device.sequence)
                           : std::vector<uint8_t>(format.imageSize, static_cast<uint8_t>(device.sequence));
        size_t size = std::min(picture.size(), buffer.memory.size());
        std::memcpy(buffer.memory.data(), picture.data(), size);
        buffer.bytesUsed = static_cast<uint32_t>(size);
        buffer.sequence = device.sequence++;
        buffer.timestamp100ns = monotonic100ns();
        buffer.filled = true;
        return true;
    }
    return false;  // the reader holds every buffer: the frame is lost, as on a real device
}

int FakeV4l2Io::waitForFrame(int fd, int wakeFd, int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        std::chrono::steady_clock::time_point due;
        {
            std::lock_guard lock(mutex_);
            Device *device = deviceOf(fd);
            if (!device)
                return -EBADF;
            if (device->unplugAfter && device->sequence >= *device->unplugAfter)
                device->present = false;
            if (!device->present)
                return -ENODEV;
            if (!device->streaming)
                return -EINVAL;
            for (const Buffer &buffer : device->buffers)
                if (buffer.queued && buffer.filled)
                    return 1;
            auto now = std::chrono::steady_clock::now();
            if (now >= device->nextFrame) {
                auto interval = std::chrono::microseconds(device->format.interval.duration100ns() / 10);
                device->nextFrame = std::max(device->nextFrame + interval, now);
                if (fillNextBuffer(*device))
                    return 1;
            }
            due = std::min(device->nextFrame, deadline);
        }
        auto waitMs = std::chrono::ceil<std::chrono::milliseconds>(due - std::chrono::steady_clock::now());
        pollfd wake{wakeFd, POLLIN, 0};
        if (::poll(&wake, 1, static_cast<int>(std::max<int64_t>(waitMs.count(), 0))) > 0)
            return 0;
        if (std::chrono::steady_clock::now() >= deadline)
            return 0;
    }
}

ScopedFakeCameras::ScopedFakeCameras(const std::vector<FakeCamera> &cameras)
    : io_(std::make_shared<FakeV4l2Io>()) {
    for (const FakeCamera &camera : cameras)
        io_->addCamera(camera);
    source_ = std::make_shared<v4l2::V4l2DeviceSource>(io_);
    DeviceRegistry::Instance().AddSource(source_);
}

ScopedFakeCameras::~ScopedFakeCameras() { DeviceRegistry::Instance().RemoveSource(source_); }

} // namespace sc::test
