#pragma once
// The switcher's parameter records, in the byte layout its callers fill (little-endian 32-bit
// integers; a rectangle is x, y, width, height).
#include <cstddef>
#include <cstdint>

struct TSwitcherRect {
    int32_t x;
    int32_t y;
    int32_t width;
    int32_t height;
};

struct TSwitcherLayer {
    int32_t enabled;          // -1 in use, 0 not
    uint8_t borderOn;         // 1: draw the border
    uint8_t reserved5[3];
    TSwitcherRect borderRect;
    int32_t borderThickness;  // pixels
    uint8_t borderYuv[3];     // Y, U, V
    uint8_t reserved31;
    uint32_t borderRgb;       // red in the low byte
    uint8_t reserved36[16];
    int32_t input;            // switcher input pin shown in this layer
    TSwitcherRect sourceRect; // input pixels
    uint8_t reserved72[20];
    TSwitcherRect destRect;   // output pixels
};

inline constexpr int kSwitcherLayerCount = 20;

struct TSwitcherParam {
    int32_t header0;  // 16
    int32_t width;    // output width
    int32_t height;   // output height
    int32_t header12; // 25
    TSwitcherLayer layers[kSwitcherLayerCount];
};

static_assert(sizeof(TSwitcherLayer) == 108);
static_assert(offsetof(TSwitcherLayer, borderOn) == 4);
static_assert(offsetof(TSwitcherLayer, borderRect) == 8);
static_assert(offsetof(TSwitcherLayer, borderThickness) == 24);
static_assert(offsetof(TSwitcherLayer, borderYuv) == 28);
static_assert(offsetof(TSwitcherLayer, borderRgb) == 32);
static_assert(offsetof(TSwitcherLayer, input) == 52);
static_assert(offsetof(TSwitcherLayer, sourceRect) == 56);
static_assert(offsetof(TSwitcherLayer, destRect) == 92);
static_assert(sizeof(TSwitcherParam) == 2176);
static_assert(offsetof(TSwitcherParam, layers) == 16);
