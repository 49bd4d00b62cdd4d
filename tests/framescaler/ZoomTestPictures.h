// Pictures for the scaling tests: storage filled with a canary byte around and between the
// rows, rows addressed top-down or bottom-up, and a page-guarded source that faults on any read
// past its last byte.
#pragma once

#include "framescaler/PicZoom.h"

#include <cstdint>
#include <cstring>
#include <random>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace framescaler_test {

constexpr std::uint8_t kCanary = 0xA5;

struct Layout {
    int width;
    int height;
    int padBytes;   // bytes between the end of one row and the start of the next
    bool bottomUp;  // negative stride: row 0 is the last row in memory
    int misalign;   // bytes added to the start of the storage's pixel area
};

// A picture inside a canary-filled vector; offsetOf() maps a pixel to its storage byte.
class CanaryPicture {
public:
    explicit CanaryPicture(const Layout& layout) : layout_(layout)
    {
        rowBytes_ = std::int64_t{layout.width} * 4 + layout.padBytes;
        const std::int64_t body = rowBytes_ * layout.height;
        storage_.assign(std::size_t(body + 2 * kGuard + layout.misalign), kCanary);
        const std::int64_t first = kGuard + layout.misalign
            + (layout.bottomUp ? rowBytes_ * (layout.height - 1) : 0);
        ref_.pixels = storage_.data() + first;
        ref_.stride = static_cast<std::int32_t>(layout.bottomUp ? -rowBytes_ : rowBytes_);
        ref_.width = layout.width;
        ref_.height = layout.height;
    }

    const PixelBufferRef& ref() const { return ref_; }
    std::vector<std::uint8_t>& storage() { return storage_; }

    std::size_t offsetOf(int x, int y) const
    {
        return std::size_t(static_cast<std::uint8_t*>(ref_.pixels) - storage_.data()
                           + std::int64_t{y} * ref_.stride + std::int64_t{x} * 4);
    }

    std::uint32_t pixel(int x, int y) const
    {
        std::uint32_t v;
        std::memcpy(&v, storage_.data() + offsetOf(x, y), 4);
        return v;
    }

    void setPixel(int x, int y, std::uint32_t v) { std::memcpy(storage_.data() + offsetOf(x, y), &v, 4); }

    void fillRandom(std::mt19937& random)
    {
        for (int y = 0; y < layout_.height; ++y)
            for (int x = 0; x < layout_.width; ++x)
                setPixel(x, y, static_cast<std::uint32_t>(random()));
    }

private:
    static constexpr std::int64_t kGuard = 64;
    Layout layout_;
    std::int64_t rowBytes_ = 0;
    std::vector<std::uint8_t> storage_;
    PixelBufferRef ref_{};
};

// A tightly packed top-down picture ending exactly at an inaccessible page: a read of even one
// byte past the last pixel faults.
class PageGuardedPicture {
public:
    PageGuardedPicture(int width, int height)
    {
        const std::size_t page = std::size_t(sysconf(_SC_PAGESIZE));
        const std::size_t bytes = std::size_t(width) * height * 4;
        const std::size_t dataPages = (bytes + page - 1) / page;
        mappedBytes_ = (dataPages + 1) * page;
        mapping_ = static_cast<std::uint8_t*>(
            mmap(nullptr, mappedBytes_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        if (mapping_ == MAP_FAILED) {
            mapping_ = nullptr;
            return;
        }
        mprotect(mapping_ + dataPages * page, page, PROT_NONE);
        std::uint8_t* pixels = mapping_ + dataPages * page - bytes;
        ref_ = {pixels, width * 4, width, height};
    }
    ~PageGuardedPicture()
    {
        if (mapping_)
            munmap(mapping_, mappedBytes_);
    }
    PageGuardedPicture(const PageGuardedPicture&) = delete;
    PageGuardedPicture& operator=(const PageGuardedPicture&) = delete;

    bool valid() const { return mapping_ != nullptr; }
    const PixelBufferRef& ref() const { return ref_; }
    std::uint32_t* row(int y) const
    {
        return reinterpret_cast<std::uint32_t*>(static_cast<std::uint8_t*>(ref_.pixels) + std::size_t(y) * ref_.stride);
    }

private:
    std::uint8_t* mapping_ = nullptr;
    std::size_t mappedBytes_ = 0;
    PixelBufferRef ref_{};
};

} // namespace framescaler_test
