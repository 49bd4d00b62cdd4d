#include "tests/support/JpegTestPictures.h"

#include <algorithm>
#include <stdexcept>
#include <turbojpeg.h>

namespace sc::test {

std::vector<uint8_t> colourBarsBgrx(int width, int height) {
    static const uint8_t bars[8][3] = {{255, 255, 255}, {0, 255, 255}, {255, 255, 0}, {0, 255, 0},
                                       {255, 0, 255},   {0, 0, 255},   {255, 0, 0},   {0, 0, 0}};
    std::vector<uint8_t> picture(static_cast<size_t>(width) * height * 4);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            uint8_t *pixel = &picture[(static_cast<size_t>(y) * width + x) * 4];
            if (y < height * 3 / 4) {
                const uint8_t *bar = bars[x * 8 / width];
                pixel[0] = bar[0];
                pixel[1] = bar[1];
                pixel[2] = bar[2];
            } else {
                pixel[0] = pixel[1] = pixel[2] = static_cast<uint8_t>(x * 255 / (width - 1));
            }
            pixel[3] = 255;
        }
    }
    return picture;
}


namespace {

std::vector<uint8_t> compress(const std::vector<uint8_t> &bgrx, int width, int height, int subsampling,
                              int quality) {
    tjhandle encoder = tjInitCompress();
    unsigned char *jpeg = nullptr;
    unsigned long size = 0;
    int result = tjCompress2(encoder, bgrx.data(), width, width * 4, height, TJPF_BGRX, &jpeg, &size,
                             subsampling, quality, 0);
    std::vector<uint8_t> bytes;
    if (result == 0)
        bytes.assign(jpeg, jpeg + size);
    tjFree(jpeg);
    tjDestroy(encoder);
    if (result != 0)
        throw std::runtime_error("JPEG test picture: compression failed");
    return bytes;
}

} // namespace

std::vector<uint8_t> colourBarsJpeg(int width, int height, int subsampling, int quality) {
    return compress(colourBarsBgrx(width, height), width, height, subsampling, quality);
}

std::vector<uint8_t> naturalJpeg(int width, int height, int subsampling, int quality) {
    std::vector<uint8_t> bgrx(static_cast<size_t>(width) * height * 4);
    uint32_t noise = 12345;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            noise = noise * 1103515245u + 12345u;
            const int grain = static_cast<int>((noise >> 16) % 25) - 12;
            uint8_t *pixel = &bgrx[(static_cast<size_t>(y) * width + x) * 4];
            const int base[3] = {x * 200 / width + 20, y * 180 / height + 40, (x + y) * 150 / (width + height) + 60};
            for (int c = 0; c < 3; ++c)
                pixel[c] = static_cast<uint8_t>(std::clamp(base[c] + grain, 0, 255));
            pixel[3] = 255;
        }
    return compress(bgrx, width, height, subsampling, quality);
}

std::vector<uint8_t> withoutHuffmanTables(const std::vector<uint8_t> &jpeg) {
    std::vector<uint8_t> out(jpeg.begin(), jpeg.begin() + 2);
    size_t at = 2;
    while (at + 4 <= jpeg.size() && jpeg[at] == 0xFF) {
        uint8_t marker = jpeg[at + 1];
        size_t length = (jpeg[at + 2] << 8) | jpeg[at + 3];
        if (marker == 0xDA) {  // start of scan: the rest is picture data
            out.insert(out.end(), jpeg.begin() + at, jpeg.end());
            return out;
        }
        if (marker != 0xC4)
            out.insert(out.end(), jpeg.begin() + at, jpeg.begin() + at + 2 + length);
        at += 2 + length;
    }
    throw std::runtime_error("withoutHuffmanTables: no scan found");
}

} // namespace sc::test
