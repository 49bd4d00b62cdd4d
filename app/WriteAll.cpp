#include "app/WriteAll.h"

#include <cerrno>

#include <unistd.h>

int WriteAll(int fd, const char *data, size_t size)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        data += written;
        size -= size_t(written);
    }
    return 0;
}
