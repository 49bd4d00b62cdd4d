#include "compat/dshow/v4l2/CaptureStream.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <linux/videodev2.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace sc::v4l2 {

int64_t monotonicNow100ns() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 10'000'000 + now.tv_nsec / 100;
}

namespace {

constexpr int kWaitSliceMs = 500;

v4l2_buffer captureBuffer(uint32_t index = 0) {
    v4l2_buffer buffer{};
    buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    buffer.memory = V4L2_MEMORY_MMAP;
    buffer.index = index;
    return buffer;
}

} // namespace

CaptureStream::CaptureStream(V4l2Device &device, unsigned bufferCount)
    : device_(device), bufferCount_(bufferCount) {}

CaptureStream::~CaptureStream() { stop(); }

void CaptureStream::start(FrameHandler onFrame, ErrorHandler onError) {
    stop();
    V4l2Io &io = device_.io();
    const int fd = device_.fd();
    // Made first: a thread that could not be woken could not be stopped.
    wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd_ < 0)
        throw V4l2Error("eventfd", device_.identity().path, errno);
    try {
        v4l2_requestbuffers request{};
        request.count = bufferCount_;
        request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        request.memory = V4L2_MEMORY_MMAP;
        device_.check(io.ioctl(fd, VIDIOC_REQBUFS, &request), "VIDIOC_REQBUFS");
        if (request.count == 0)
            throw V4l2Error("VIDIOC_REQBUFS (no buffers granted)", device_.identity().path, ENOMEM);
        for (uint32_t index = 0; index < request.count; ++index) {
            v4l2_buffer buffer = captureBuffer(index);
            device_.check(io.ioctl(fd, VIDIOC_QUERYBUF, &buffer), "VIDIOC_QUERYBUF");
            void *address = io.mmap(fd, buffer.length, buffer.m.offset);
            if (!address)
                throw V4l2Error("mmap", device_.identity().path, errno ? errno : ENOMEM);
            buffers_.push_back({address, buffer.length});
            device_.check(io.ioctl(fd, VIDIOC_QBUF, &buffer), "VIDIOC_QBUF");
        }
        int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        device_.check(io.ioctl(fd, VIDIOC_STREAMON, &type), "VIDIOC_STREAMON");
    } catch (...) {
        releaseBuffers();
        ::close(wakeFd_);
        wakeFd_ = -1;
        throw;
    }
    stopping_ = false;
    onFrame_ = std::move(onFrame);
    onError_ = std::move(onError);
    thread_ = std::thread(&CaptureStream::run, this);
}

void CaptureStream::stop() {
    if (thread_.joinable()) {
        stopping_ = true;
        uint64_t one = 1;
        [[maybe_unused]] ssize_t written = ::write(wakeFd_, &one, sizeof one);
        thread_.join();
        int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        device_.io().ioctl(device_.fd(), VIDIOC_STREAMOFF, &type);  // fails harmlessly when gone
        ::close(wakeFd_);
        wakeFd_ = -1;
    }
    releaseBuffers();
}

void CaptureStream::releaseBuffers() {
    if (buffers_.empty())
        return;
    for (const MappedBuffer &buffer : buffers_)
        device_.io().munmap(buffer.address, buffer.length);
    buffers_.clear();
    v4l2_requestbuffers request{};
    request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    request.memory = V4L2_MEMORY_MMAP;
    device_.io().ioctl(device_.fd(), VIDIOC_REQBUFS, &request);
}

void CaptureStream::run() {
    V4l2Io &io = device_.io();
    const int fd = device_.fd();
    try {
        while (!stopping_) {
            int ready = io.waitForFrame(fd, wakeFd_, kWaitSliceMs);
            if (stopping_)
                break;
            device_.check(ready, "poll");
            if (ready == 0)
                continue;
            v4l2_buffer buffer = captureBuffer();
            int result = io.ioctl(fd, VIDIOC_DQBUF, &buffer);
            if (result == -EAGAIN)
                continue;
            device_.check(result, "VIDIOC_DQBUF");
            if (buffer.index < buffers_.size() && !(buffer.flags & V4L2_BUF_FLAG_ERROR) &&
                buffer.bytesused > 0) {
                CapturedFrame frame;
                frame.data = static_cast<const uint8_t *>(buffers_[buffer.index].address);
                frame.size = std::min<size_t>(buffer.bytesused, buffers_[buffer.index].length);
                frame.sequence = buffer.sequence;
                bool monotonic = (buffer.flags & V4L2_BUF_FLAG_TIMESTAMP_MASK) ==
                                 V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC;
                bool stamped = buffer.timestamp.tv_sec != 0 || buffer.timestamp.tv_usec != 0;
                frame.captureTime100ns =
                    monotonic && stamped
                        ? static_cast<int64_t>(buffer.timestamp.tv_sec) * 10'000'000 +
                              static_cast<int64_t>(buffer.timestamp.tv_usec) * 10
                        : monotonicNow100ns();
                onFrame_(frame);
            }
            device_.check(io.ioctl(fd, VIDIOC_QBUF, &buffer), "VIDIOC_QBUF");
        }
    } catch (const V4l2Error &error) {
        if (!stopping_ && onError_)
            onError_(error);
    }
}

} // namespace sc::v4l2
