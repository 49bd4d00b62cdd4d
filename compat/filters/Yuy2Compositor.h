#pragma once
// Composes up to five YUY2 inputs into one YUY2 picture: one input over the whole picture, or
// layers that each scale a rectangle of an input into a rectangle of the output, with an
// optional border. Inputs deliver from their own threads; the latest picture of each input
// is kept, so an input that sends nothing new shows its last picture, and one that never sent
// anything shows black.
#include "SwitcherParams.h"

#include <array>
#include <cstdint>
#include <mutex>
#include <vector>

namespace filters {

class Yuy2Compositor {
public:
    static constexpr int kInputs = 5;

    Yuy2Compositor();

    void setOutputSize(int width, int height);
    int outputWidth() const { return outWidth_; }
    int outputHeight() const { return outHeight_; }
    int outputStride() const { return outWidth_ * 2; }

    // The picture size an input delivers (from its connection); forgets its last picture.
    void setInputSize(int input, int width, int height);
    // Copies one YUY2 picture of the input's size, top row first.
    void deliver(int input, const uint8_t* yuy2, int stride);

    // Shows `input` alone over the whole output.
    void showInput(int input);
    // Shows every layer whose enabled word is -1, layer 0 at the bottom.
    void showLayers(const TSwitcherLayer* layers, int count);

    // Writes the composed picture (outputWidth x outputHeight, YUY2).
    void compose(uint8_t* out, int stride);

private:
    struct Slot {
        std::mutex lock;
        int width = 0;
        int height = 0;
        bool hasPicture = false;
        std::vector<uint8_t> pixels;
    };
    struct Planes {
        std::vector<uint8_t> y, u, v;
        void ensure(int width, int height);
    };

    void drawLayer(const TSwitcherLayer& layer, uint8_t* out, int stride);
    void drawBorder(const TSwitcherLayer& layer, uint8_t* out, int stride) const;
    void fillBlack(uint8_t* out, int stride, TSwitcherRect r) const;
    bool coversOutput(const TSwitcherLayer& layer);

    int outWidth_ = 0;
    int outHeight_ = 0;
    std::array<Slot, kInputs> slots_;
    std::mutex layoutLock_;
    std::vector<TSwitcherLayer> layout_;
    // compose's copy of layout_, kept so that its storage is reused frame after frame (compose
    // runs on one thread).
    std::vector<TSwitcherLayer> composeLayout_;
    Planes source_;
    Planes scaled_;
};

} // namespace filters
