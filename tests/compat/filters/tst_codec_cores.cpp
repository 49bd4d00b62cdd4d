// The H.264 and AAC cores against libavcodec's decoders.
#include "AacEncoder.h"
#include "H264Encoder.h"
#include "Yuy2Pictures.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <cmath>
#include <stdexcept>

namespace {

// A moving picture: diagonal luma ramp and chroma bands that shift by `t` pixels per frame.
std::vector<uint8_t> movingPicture(int w, int h, int t)
{
    std::vector<uint8_t> p(size_t(w) * h * 2);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; x += 2) {
            uint8_t* q = &p[(size_t(y) * w + x) * 2];
            q[0] = uint8_t(16 + (x + y + 4 * t) % 220);
            q[2] = uint8_t(16 + (x + 1 + y + 4 * t) % 220);
            q[1] = uint8_t(((x + 2 * t) / 32) % 2 ? 90 : 170);
            q[3] = uint8_t((y / 32) % 2 ? 100 : 150);
        }
    return p;
}

class Decoder {
public:
    explicit Decoder(AVCodecID id, const std::vector<uint8_t>& extradata = {})
    {
        const AVCodec* codec = avcodec_find_decoder(id);
        ctx_ = avcodec_alloc_context3(codec);
        if (!extradata.empty()) {
            ctx_->extradata = static_cast<uint8_t*>(av_mallocz(extradata.size() + AV_INPUT_BUFFER_PADDING_SIZE));
            std::copy(extradata.begin(), extradata.end(), ctx_->extradata);
            ctx_->extradata_size = int(extradata.size());
        }
        if (avcodec_open2(ctx_, codec, nullptr) < 0)
            throw std::runtime_error("decoder");
        frame_ = av_frame_alloc();
        packet_ = av_packet_alloc();
    }
    ~Decoder()
    {
        av_packet_free(&packet_);
        av_frame_free(&frame_);
        avcodec_free_context(&ctx_);
    }
    // Decodes one packet; returns the frames that came out right away.
    std::vector<AVFrame*> decode(std::span<const uint8_t> bytes)
    {
        av_new_packet(packet_, int(bytes.size()));
        std::copy(bytes.begin(), bytes.end(), packet_->data);
        avcodec_send_packet(ctx_, packet_);
        av_packet_unref(packet_);
        std::vector<AVFrame*> out;
        while (avcodec_receive_frame(ctx_, frame_) == 0)
            out.push_back(av_frame_clone(frame_));
        return out;
    }
    AVCodecContext* ctx_ = nullptr;

private:
    AVFrame* frame_ = nullptr;
    AVPacket* packet_ = nullptr;
};

std::vector<int> nalTypes(std::span<const uint8_t> au)
{
    std::vector<int> types;
    for (size_t i = 0; i + 3 < au.size(); ++i)
        if (au[i] == 0 && au[i + 1] == 0 && au[i + 2] == 1) {
            types.push_back(au[i + 3] & 0x1f);
            i += 2;
        }
    return types;
}

} // namespace

TEST(H264Encoder, OneDecodableAccessUnitPerPictureInOrderWithRegularKeyFrames)
{
    constexpr int kW = 320, kH = 240, kCount = 90;
    filters::H264Encoder encoder({kW, kH, 20, 800});
    ASSERT_LE(encoder.keyInterval(), 40);
    Decoder decoder(AV_CODEC_ID_H264);
    int lastKey = 0;
    for (int i = 0; i < kCount; ++i) {
        const auto picture = movingPicture(kW, kH, i);
        const auto packet = encoder.encode(picture.data(), kW * 2);
        ASSERT_FALSE(packet.bytes.empty()) << "frame " << i;
        // The first picture is a key frame, and key frames are at most keyInterval apart.
        if (packet.key)
            lastKey = i;
        EXPECT_TRUE(i > 0 || packet.key);
        EXPECT_LT(i - lastKey, encoder.keyInterval()) << "frame " << i;
        const auto types = nalTypes(packet.bytes);
        if (packet.key) {
            EXPECT_NE(std::find(types.begin(), types.end(), 7), types.end()) << "SPS on key frame " << i;
            EXPECT_NE(std::find(types.begin(), types.end(), 8), types.end()) << "PPS on key frame " << i;
            EXPECT_NE(std::find(types.begin(), types.end(), 5), types.end()) << "IDR slice " << i;
        }
        auto frames = decoder.decode(packet.bytes);
        ASSERT_EQ(frames.size(), 1u) << "picture " << i << " must decode at once";
        AVFrame* f = frames[0];
        EXPECT_EQ(f->width, kW);
        EXPECT_EQ(f->height, kH);
        // Luma PSNR against the input.
        double squared = 0;
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x) {
                const int d = int(f->data[0][y * f->linesize[0] + x]) - picture[(size_t(y) * kW + x) * 2];
                squared += d * d;
            }
        const double psnr = 10 * std::log10(255.0 * 255.0 / std::max(squared / (kW * kH), 1e-9));
        EXPECT_GT(psnr, 28.0) << "frame " << i;
        av_frame_free(&f);
    }
}

TEST(H264Encoder, RefusesUnusableSettings)
{
    const filters::H264Settings bad[] = {{0, 240, 20, 800}, {321, 240, 20, 800}, {320, 240, 0, 800},
                                         {320, 240, 20, 0}};
    for (const auto& s : bad)
        EXPECT_THROW(filters::H264Encoder{s}, std::runtime_error) << s.width << "x" << s.height;
}

TEST(AacEncoder, LcFramesWithConfigRisingTimesAndTheToneDecodesBack)
{
    constexpr int kRate = 44100, kChannels = 2;
    filters::AacEncoder encoder({kRate, kChannels, 96000});
    const auto& asc = encoder.audioSpecificConfig();
    ASSERT_GE(asc.size(), 2u);
    EXPECT_EQ(asc[0] >> 3, 2) << "AAC-LC object type";
    EXPECT_EQ(((asc[0] & 7) << 1) | (asc[1] >> 7), 4) << "44100 Hz index";
    EXPECT_EQ((asc[1] >> 3) & 15, kChannels);

    // 2 s of a 1 kHz tone in 441-frame chunks (10 ms, like a capture buffer), starting at 5 s.
    constexpr int64_t kStart = 50'000'000;
    std::vector<std::pair<std::vector<uint8_t>, int64_t>> out;
    auto sink = [&](std::span<const uint8_t> f, int64_t t) { out.emplace_back(std::vector<uint8_t>(f.begin(), f.end()), t); };
    std::vector<int16_t> chunk(441 * kChannels);
    for (int c = 0; c < 200; ++c) {
        for (int i = 0; i < 441; ++i) {
            const double s = 0.5 * std::sin(2 * M_PI * 1000 * (c * 441 + i) / kRate);
            for (int ch = 0; ch < kChannels; ++ch)
                chunk[size_t(i) * kChannels + ch] = int16_t(s * 32767);
        }
        encoder.encode(chunk.data(), 441, kStart + int64_t(c) * 100'000, sink);
    }
    encoder.flush(sink);
    ASSERT_GE(out.size(), 86u); // 88200 samples / 1024
    EXPECT_EQ(out.front().second, kStart);
    for (size_t i = 1; i < out.size(); ++i)
        EXPECT_NEAR(out[i].second - out[i - 1].second, 1024 * 10'000'000.0 / kRate, 2) << "frame " << i;

    Decoder decoder(AV_CODEC_ID_AAC, asc);
    double tone = 0, total = 0;
    int decoded = 0;
    for (auto& [bytes, time] : out)
        for (AVFrame* f : decoder.decode(bytes)) {
            const auto* left = reinterpret_cast<const float*>(f->data[0]);
            // Correlate with 1 kHz (Goertzel-style) from the second frame on (after priming).
            if (decoded++ > 2) {
                double re = 0, im = 0, energy = 0;
                for (int i = 0; i < f->nb_samples; ++i) {
                    re += left[i] * std::cos(2 * M_PI * 1000 * i / kRate);
                    im += left[i] * std::sin(2 * M_PI * 1000 * i / kRate);
                    energy += left[i] * left[i];
                }
                tone += 2 * (re * re + im * im) / f->nb_samples;
                total += energy;
            }
            av_frame_free(&f);
        }
    EXPECT_GT(decoded, 80);
    EXPECT_GT(tone / total, 0.9) << "the decoded sound is the 1 kHz tone";
}
