#include "Yuy2Compositor.h"

#include <libyuv/planar_functions.h>
#include <libyuv/scale.h>

#include <algorithm>
#include <cstring>

namespace filters {

namespace {

constexpr uint32_t kBlackPair = 0x80108010; // Y 16, U 128, Y 16, V 128

// Clips r to a width x height picture and makes x and width even (YUY2 pairs).
TSwitcherRect clipEven(TSwitcherRect r, int width, int height)
{
    int x0 = std::clamp(r.x, 0, width) & ~1;
    int y0 = std::clamp(r.y, 0, height);
    int x1 = std::clamp(r.x + r.width, 0, width);
    int y1 = std::clamp(r.y + r.height, 0, height);
    return {x0, y0, std::max(0, x1 - x0) & ~1, std::max(0, y1 - y0)};
}

bool isEnabled(const TSwitcherLayer& layer)
{
    return layer.enabled == -1 && layer.input >= 0 && layer.input < Yuy2Compositor::kInputs;
}

} // namespace

void Yuy2Compositor::Planes::ensure(int width, int height)
{
    const size_t luma = size_t(width) * height;
    if (y.size() < luma) {
        y.resize(luma);
        u.resize(luma / 2 + height);
        v.resize(luma / 2 + height);
    }
}

Yuy2Compositor::Yuy2Compositor() = default;

void Yuy2Compositor::setOutputSize(int width, int height)
{
    outWidth_ = width & ~1;
    outHeight_ = height;
}

void Yuy2Compositor::setInputSize(int input, int width, int height)
{
    if (input < 0 || input >= kInputs)
        return;
    Slot& slot = slots_[input];
    std::lock_guard guard(slot.lock);
    slot.width = width & ~1;
    slot.height = height;
    slot.hasPicture = false;
    slot.pixels.resize(size_t(slot.width) * 2 * height);
}

void Yuy2Compositor::deliver(int input, const uint8_t* yuy2, int stride)
{
    if (input < 0 || input >= kInputs)
        return;
    Slot& slot = slots_[input];
    std::lock_guard guard(slot.lock);
    const size_t row = size_t(slot.width) * 2;
    for (int y = 0; y < slot.height; ++y)
        std::memcpy(slot.pixels.data() + y * row, yuy2 + size_t(y) * stride, row);
    slot.hasPicture = slot.height > 0;
}

void Yuy2Compositor::showInput(int input)
{
    TSwitcherLayer whole{};
    whole.enabled = -1;
    whole.input = input;
    whole.destRect = {0, 0, outWidth_, outHeight_};
    // A source rectangle of zero size stands for the whole input picture, whatever its size.
    std::lock_guard guard(layoutLock_);
    layout_.assign(1, whole);
}

void Yuy2Compositor::showLayers(const TSwitcherLayer* layers, int count)
{
    std::lock_guard guard(layoutLock_);
    layout_.clear();
    for (int i = 0; i < count; ++i) {
        if (isEnabled(layers[i]))
            layout_.push_back(layers[i]);
    }
}

bool Yuy2Compositor::coversOutput(const TSwitcherLayer& layer)
{
    const TSwitcherRect d = clipEven(layer.destRect, outWidth_, outHeight_);
    if (d.x != 0 || d.y != 0 || d.width != outWidth_ || d.height != outHeight_)
        return false;
    Slot& slot = slots_[layer.input];
    std::lock_guard guard(slot.lock);
    return slot.hasPicture;
}

void Yuy2Compositor::compose(uint8_t* out, int stride)
{
    {
        std::lock_guard guard(layoutLock_);
        composeLayout_.assign(layout_.begin(), layout_.end());
    }
    const std::vector<TSwitcherLayer>& layout = composeLayout_;
    const bool covered = std::any_of(layout.begin(), layout.end(),
                                     [&](const TSwitcherLayer& l) { return coversOutput(l); });
    if (!covered)
        fillBlack(out, stride, {0, 0, outWidth_, outHeight_});
    for (const TSwitcherLayer& layer : layout) {
        drawLayer(layer, out, stride);
        if (layer.borderOn == 1)
            drawBorder(layer, out, stride);
    }
}

void Yuy2Compositor::drawLayer(const TSwitcherLayer& layer, uint8_t* out, int stride)
{
    const TSwitcherRect d = clipEven(layer.destRect, outWidth_, outHeight_);
    if (d.width <= 0 || d.height <= 0)
        return;
    Slot& slot = slots_[layer.input];
    std::lock_guard guard(slot.lock);
    const TSwitcherRect wanted = layer.sourceRect.width > 0 && layer.sourceRect.height > 0
        ? layer.sourceRect
        : TSwitcherRect{0, 0, slot.width, slot.height};
    const TSwitcherRect s = clipEven(wanted, slot.width, slot.height);
    if (!slot.hasPicture || s.width <= 0 || s.height <= 0) {
        fillBlack(out, stride, d);
        return;
    }
    const int inStride = slot.width * 2;
    const uint8_t* src = slot.pixels.data() + size_t(s.y) * inStride + s.x * 2;
    uint8_t* dst = out + size_t(d.y) * stride + d.x * 2;
    if (s.width == d.width && s.height == d.height) {
        for (int y = 0; y < d.height; ++y)
            std::memcpy(dst + size_t(y) * stride, src + size_t(y) * inStride, size_t(d.width) * 2);
        return;
    }
    source_.ensure(s.width, s.height);
    scaled_.ensure(d.width, d.height);
    libyuv::YUY2ToI422(src, inStride, source_.y.data(), s.width, source_.u.data(), s.width / 2,
                       source_.v.data(), s.width / 2, s.width, s.height);
    libyuv::I422Scale(source_.y.data(), s.width, source_.u.data(), s.width / 2, source_.v.data(),
                      s.width / 2, s.width, s.height, scaled_.y.data(), d.width, scaled_.u.data(),
                      d.width / 2, scaled_.v.data(), d.width / 2, d.width, d.height,
                      libyuv::kFilterBilinear);
    libyuv::I422ToYUY2(scaled_.y.data(), d.width, scaled_.u.data(), d.width / 2, scaled_.v.data(),
                       d.width / 2, dst, stride, d.width, d.height);
}

void Yuy2Compositor::drawBorder(const TSwitcherLayer& layer, uint8_t* out, int stride) const
{
    const TSwitcherRect r = layer.borderRect;
    const int t = layer.borderThickness;
    if (t <= 0 || r.width <= 0 || r.height <= 0)
        return;
    const uint8_t yy = layer.borderYuv[0], uu = layer.borderYuv[1], vv = layer.borderYuv[2];
    auto paint = [&](int x0, int y0, int x1, int y1) { // half-open, clipped to the output
        x0 = std::max(x0, 0);
        y0 = std::max(y0, 0);
        x1 = std::min(x1, outWidth_);
        y1 = std::min(y1, outHeight_);
        for (int y = y0; y < y1; ++y) {
            uint8_t* row = out + size_t(y) * stride;
            for (int x = x0; x < x1; ++x) {
                row[x * 2] = yy;
                row[(x & ~1) * 2 + 1] = uu;
                row[(x & ~1) * 2 + 3] = vv;
            }
        }
    };
    const int right = r.x + r.width, bottom = r.y + r.height;
    paint(r.x, r.y, right, std::min(r.y + t, bottom));                // top
    paint(r.x, std::max(bottom - t, r.y), right, bottom);             // bottom
    paint(r.x, r.y, std::min(r.x + t, right), bottom);                // left
    paint(std::max(right - t, r.x), r.y, right, bottom);              // right
}

void Yuy2Compositor::fillBlack(uint8_t* out, int stride, TSwitcherRect r) const
{
    for (int y = r.y; y < r.y + r.height; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(out + size_t(y) * stride + r.x * 2);
        std::fill(row, row + r.width / 2, kBlackPair);
    }
}

} // namespace filters
