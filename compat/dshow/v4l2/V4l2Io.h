#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

namespace sc::v4l2 {

// The thin layer between the camera code and the kernel. Everything above it (format
// negotiation, buffer handling, the streaming thread, error mapping) is the same code for a
// real device and for the scripted device the tests use. Calls return -errno on failure.
class V4l2Io {
public:
    virtual ~V4l2Io() = default;

    // The capture nodes to look at, in a stable order ("/dev/video0", "/dev/video1", ...).
    virtual std::vector<std::string> listNodes() = 0;
    virtual int open(const std::string &path) = 0;  // a descriptor, or -errno
    virtual void close(int fd) = 0;
    virtual int ioctl(int fd, unsigned long request, void *arg) = 0;  // 0, or -errno
    virtual void *mmap(int fd, size_t length, off_t offset) = 0;     // nullptr on failure
    virtual void munmap(void *address, size_t length) = 0;
    // Waits until a buffer can be dequeued from fd or wakeFd becomes readable.
    // Returns 1 when fd is ready, 0 on timeout or wake-up, -errno when the device failed
    // (unplugged: -ENODEV).
    virtual int waitForFrame(int fd, int wakeFd, int timeoutMs) = 0;
};

// The kernel's V4L2 interface.
std::shared_ptr<V4l2Io> systemV4l2Io();

} // namespace sc::v4l2
