#pragma once
// H.264 encoding of YUY2 pictures on libx264: exactly one Annex B access unit per picture, in
// order (no B-frames, no look-ahead), a key frame at least every two seconds, each key frame
// carrying its sequence and picture parameter sets.
#include <cstdint>
#include <span>
#include <vector>

struct x264_t;

namespace filters {

struct H264Settings {
    int width = 0;
    int height = 0;
    int frameRate = 20;
    int kbitRate = 0;
};

class H264Encoder {
public:
    struct Packet {
        std::span<const uint8_t> bytes; // valid until the next encode
        bool key = false;
    };

    // Throws std::runtime_error when libx264 refuses the settings.
    explicit H264Encoder(const H264Settings& settings);
    ~H264Encoder();
    H264Encoder(const H264Encoder&) = delete;
    H264Encoder& operator=(const H264Encoder&) = delete;

    Packet encode(const uint8_t* yuy2, int stride);
    int keyInterval() const { return keyInterval_; }

private:
    H264Settings settings_;
    int keyInterval_ = 0;
    x264_t* encoder_ = nullptr;
    std::vector<uint8_t> planes_; // I420 picture
    int64_t frameNumber_ = 0;
};

} // namespace filters
