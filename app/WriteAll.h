#pragma once

#include <cstddef>

// Writes all of data to fd, resuming after interrupted or partial writes. Returns 0 or errno.
int WriteAll(int fd, const char *data, size_t size);
