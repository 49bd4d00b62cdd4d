#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

namespace sc::renderer {

enum class FramePixels { Yuy2, Rgb24, Rgb32 };

struct FrameLayout {
    FramePixels pixels = FramePixels::Yuy2;
    int width = 0;
    int height = 0;
    int stride = 0;         // bytes from one stored row to the next
    bool bottomUp = false;  // the last picture row is stored first (upright RGB bitmaps)
    bool operator==(const FrameLayout &) const = default;
};

struct VideoFrame {
    FrameLayout layout;
    std::vector<uint8_t> bytes;
};

// Hands the newest frame from a streaming thread to the window that shows it. post() copies
// the frame and returns at once: it never waits for the window, which takes only the newest
// frame when it paints. Frames replaced before they were shown count as dropped.
class VideoFrameMailbox {
public:
    // Copies the frame in. Returns false for data that does not fit the layout.
    bool post(const uint8_t *data, size_t size, const FrameLayout &layout);
    // Moves the newest unseen frame into `frame` (whose old buffer is recycled); false when
    // nothing new arrived since the last call.
    bool takeLatest(VideoFrame &frame);
    void clear();
    // Called (from the posting thread, at most once per taken frame) when a new frame waits.
    void setNotifier(std::function<void()> notifier);

    uint64_t framesPosted() const { return posted_; }
    uint64_t framesDropped() const { return dropped_; }

    static size_t bytesNeeded(const FrameLayout &layout);

private:
    std::mutex mutex_;
    VideoFrame pending_;
    VideoFrame spare_;  // a buffer to copy into without allocating
    bool hasPending_ = false;
    std::function<void()> notifier_;
    std::atomic<uint64_t> posted_{0};
    std::atomic<uint64_t> dropped_{0};
};

} // namespace sc::renderer
