#pragma once

#include <cstdint>
#include <vector>

namespace sc::test {

// A picture of 8 coloured columns (white, yellow, cyan, green, magenta, red, blue, black) over
// a grey ramp in the bottom quarter, as B G R X rows, top row first.
std::vector<uint8_t> colourBarsBgrx(int width, int height);

// The same picture as a JPEG, compressed by libjpeg-turbo. `subsampling` is a TJSAMP_* value.
std::vector<uint8_t> colourBarsJpeg(int width, int height, int subsampling, int quality = 90);

// A camera-like picture: soft colour gradients with fine grain, which compresses to the sizes
// real cameras send (about 0.15 bytes a pixel at quality 85), as a JPEG.
std::vector<uint8_t> naturalJpeg(int width, int height, int subsampling, int quality = 85);

// The JPEG with its Huffman tables removed, as most cameras send their motion-JPEG frames.
std::vector<uint8_t> withoutHuffmanTables(const std::vector<uint8_t> &jpeg);

} // namespace sc::test
