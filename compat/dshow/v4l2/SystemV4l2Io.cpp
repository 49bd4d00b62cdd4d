#include "compat/dshow/v4l2/V4l2Io.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace sc::v4l2 {
namespace {

class SystemV4l2Io final : public V4l2Io {
public:
    std::vector<std::string> listNodes() override {
        std::vector<std::pair<int, std::string>> nodes;
        if (DIR *dir = ::opendir("/dev")) {
            while (dirent *entry = ::readdir(dir)) {
                std::string name = entry->d_name;
                if (name.rfind("video", 0) != 0 || name.size() == 5)
                    continue;
                char *end = nullptr;
                long number = std::strtol(name.c_str() + 5, &end, 10);
                if (*end == '\0')
                    nodes.emplace_back(static_cast<int>(number), "/dev/" + name);
            }
            ::closedir(dir);
        }
        std::sort(nodes.begin(), nodes.end());
        std::vector<std::string> paths;
        for (auto &node : nodes)
            paths.push_back(std::move(node.second));
        return paths;
    }

    int open(const std::string &path) override {
        int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        return fd >= 0 ? fd : -errno;
    }

    void close(int fd) override { ::close(fd); }

    int ioctl(int fd, unsigned long request, void *arg) override {
        int result;
        do {
            result = ::ioctl(fd, request, arg);
        } while (result < 0 && errno == EINTR);
        return result < 0 ? -errno : 0;
    }

    void *mmap(int fd, size_t length, off_t offset) override {
        void *address = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, fd, offset);
        return address == MAP_FAILED ? nullptr : address;
    }

    void munmap(void *address, size_t length) override { ::munmap(address, length); }

    int waitForFrame(int fd, int wakeFd, int timeoutMs) override {
        pollfd fds[2] = {{fd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
        int result = ::poll(fds, 2, timeoutMs);
        if (result < 0)
            return errno == EINTR ? 0 : -errno;
        if (fds[1].revents & POLLIN)
            return 0;
        if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL))
            return -ENODEV;
        return (fds[0].revents & POLLIN) ? 1 : 0;
    }
};

} // namespace

std::shared_ptr<V4l2Io> systemV4l2Io() {
    static auto io = std::make_shared<SystemV4l2Io>();
    return io;
}

} // namespace sc::v4l2
