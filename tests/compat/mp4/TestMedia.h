#pragma once
// Real H.264 and AAC samples for the writer tests, made with libavcodec's libx264 and AAC
// encoders, independent of the project's own encoder filters.
#include <cstdint>
#include <vector>

namespace testmedia {

struct Sample {
    std::vector<uint8_t> bytes;
    bool key = false;
};

// `count` Annex B access units of a moving picture, key frame every `keyInterval` frames, each
// key frame carrying its parameter sets.
std::vector<Sample> h264Frames(int width, int height, int count, int keyInterval = 40);

struct AacStream {
    std::vector<uint8_t> audioSpecificConfig;
    std::vector<Sample> frames; // raw AAC frames of 1024 samples
};
AacStream aacTone(int sampleRate, int channels, double seconds);

} // namespace testmedia
