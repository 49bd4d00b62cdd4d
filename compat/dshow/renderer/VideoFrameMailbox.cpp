#include "compat/dshow/renderer/VideoFrameMailbox.h"

#include <cstring>

namespace sc::renderer {

size_t VideoFrameMailbox::bytesNeeded(const FrameLayout &layout) {
    if (layout.width <= 0 || layout.height <= 0)
        return 0;
    const int bytesPerPixel = layout.pixels == FramePixels::Yuy2 ? 2 : layout.pixels == FramePixels::Rgb24 ? 3 : 4;
    const size_t row = static_cast<size_t>(layout.width) * bytesPerPixel;
    if (layout.stride < 0 || static_cast<size_t>(layout.stride) < row)
        return 0;
    return static_cast<size_t>(layout.stride) * (layout.height - 1) + row;
}

bool VideoFrameMailbox::post(const uint8_t *data, size_t size, const FrameLayout &layout) {
    const size_t needed = bytesNeeded(layout);
    if (needed == 0 || size < needed || (layout.pixels == FramePixels::Yuy2 && layout.width % 2))
        return false;
    VideoFrame frame;
    {
        std::lock_guard lock(mutex_);
        frame = std::move(spare_);
    }
    // The copy runs outside the lock: the window never waits for it.
    frame.layout = layout;
    frame.bytes.resize(needed);
    std::memcpy(frame.bytes.data(), data, needed);
    std::function<void()> notify;
    {
        std::lock_guard lock(mutex_);
        if (hasPending_)
            ++dropped_;
        spare_ = std::move(pending_);
        pending_ = std::move(frame);
        if (!hasPending_)
            notify = notifier_;
        hasPending_ = true;
        ++posted_;
        if (notify)
            notify();  // under the lock, so that a window detaching waits until it returned
    }
    return true;
}

bool VideoFrameMailbox::takeLatest(VideoFrame &frame) {
    std::lock_guard lock(mutex_);
    if (!hasPending_)
        return false;
    std::swap(frame, pending_);
    spare_ = std::move(pending_);
    hasPending_ = false;
    return true;
}

void VideoFrameMailbox::clear() {
    std::lock_guard lock(mutex_);
    hasPending_ = false;
}

void VideoFrameMailbox::setNotifier(std::function<void()> notifier) {
    std::lock_guard lock(mutex_);
    notifier_ = std::move(notifier);
}

} // namespace sc::renderer
