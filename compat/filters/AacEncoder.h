#pragma once
// AAC-LC encoding of interleaved 16-bit PCM on libavcodec's AAC encoder. Raw AAC frames of 1024
// samples come out stamped with the capture time of their first input sample.
#include <cstdint>
#include <deque>
#include <functional>
#include <span>
#include <vector>

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

namespace filters {

struct AacSettings {
    int sampleRate = 44100;
    int channels = 2;
    int bitRate = 64000; // bit/s
};

class AacEncoder {
public:
    using Sink = std::function<void(std::span<const uint8_t> frame, int64_t time)>;

    // Throws std::runtime_error when the encoder refuses the settings.
    explicit AacEncoder(const AacSettings& settings);
    ~AacEncoder();
    AacEncoder(const AacEncoder&) = delete;
    AacEncoder& operator=(const AacEncoder&) = delete;

    // The decoder configuration (AudioSpecificConfig) a container stores for the stream.
    const std::vector<uint8_t>& audioSpecificConfig() const { return config_; }

    // `frames` sample frames starting at `time` (100 ns units).
    void encode(const int16_t* samples, int frames, int64_t time, const Sink& sink);
    // Pads the last partial frame and drains the encoder.
    void flush(const Sink& sink);

private:
    void sendFrame(const Sink& sink);
    void drain(const Sink& sink);

    AacSettings settings_;
    AVCodecContext* codec_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVPacket* packet_ = nullptr;
    std::vector<uint8_t> config_;
    int filled_ = 0;          // samples in frame_
    int64_t frameTime_ = 0;   // time of frame_'s first sample
    int64_t samplesSent_ = 0; // pts of the next frame
    std::deque<std::pair<int64_t, int64_t>> times_; // frame pts -> capture time
};

} // namespace filters
