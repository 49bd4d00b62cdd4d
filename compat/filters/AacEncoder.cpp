#include "AacEncoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
}

#include <stdexcept>
#include <string>

namespace filters {

AacEncoder::AacEncoder(const AacSettings& s) : settings_(s)
{
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (!codec)
        throw std::runtime_error("AAC encoder: libavcodec has no AAC encoder");
    codec_ = avcodec_alloc_context3(codec);
    frame_ = av_frame_alloc();
    packet_ = av_packet_alloc();
    if (!codec_ || !frame_ || !packet_)
        throw std::runtime_error("AAC encoder: out of memory");
    codec_->sample_rate = s.sampleRate;
    codec_->sample_fmt = AV_SAMPLE_FMT_FLTP;
    av_channel_layout_default(&codec_->ch_layout, s.channels);
    codec_->bit_rate = s.bitRate;
    codec_->profile = FF_PROFILE_AAC_LOW;
    codec_->time_base = {1, s.sampleRate};
    // The decoder configuration goes to the container, not into every frame.
    codec_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (avcodec_open2(codec_, codec, nullptr) < 0)
        throw std::runtime_error("AAC encoder: refused " + std::to_string(s.sampleRate) + " Hz, " +
                                 std::to_string(s.channels) + " channels, " +
                                 std::to_string(s.bitRate) + " bit/s");
    config_.assign(codec_->extradata, codec_->extradata + codec_->extradata_size);
    frame_->nb_samples = codec_->frame_size;
    frame_->format = codec_->sample_fmt;
    av_channel_layout_copy(&frame_->ch_layout, &codec_->ch_layout);
    frame_->sample_rate = s.sampleRate;
    if (av_frame_get_buffer(frame_, 0) < 0)
        throw std::runtime_error("AAC encoder: out of memory");
}

AacEncoder::~AacEncoder()
{
    av_packet_free(&packet_);
    av_frame_free(&frame_);
    avcodec_free_context(&codec_);
}

void AacEncoder::encode(const int16_t* samples, int frames, int64_t time, const Sink& sink)
{
    const int channels = settings_.channels;
    for (int i = 0; i < frames;) {
        if (filled_ == 0) {
            if (av_frame_make_writable(frame_) < 0)
                throw std::runtime_error("AAC encoder: out of memory");
            frameTime_ = time + int64_t(i) * 10'000'000 / settings_.sampleRate;
        }
        const int take = std::min(frames - i, frame_->nb_samples - filled_);
        for (int ch = 0; ch < channels; ++ch) {
            auto* plane = reinterpret_cast<float*>(frame_->data[ch]) + filled_;
            const int16_t* in = samples + size_t(i) * channels + ch;
            for (int k = 0; k < take; ++k)
                plane[k] = in[size_t(k) * channels] * (1.0f / 32768.0f);
        }
        filled_ += take;
        i += take;
        if (filled_ == frame_->nb_samples)
            sendFrame(sink);
    }
}

void AacEncoder::sendFrame(const Sink& sink)
{
    frame_->pts = samplesSent_;
    times_.emplace_back(samplesSent_, frameTime_);
    samplesSent_ += frame_->nb_samples;
    filled_ = 0;
    if (avcodec_send_frame(codec_, frame_) < 0)
        throw std::runtime_error("AAC encoder: a frame was refused");
    drain(sink);
}

void AacEncoder::drain(const Sink& sink)
{
    while (avcodec_receive_packet(codec_, packet_) == 0) {
        // The encoder shifts its output by its priming samples; undo that to find the frame.
        const int64_t framePts = packet_->pts + codec_->initial_padding;
        while (times_.size() > 1 && times_.front().first < framePts)
            times_.pop_front();
        const int64_t time = times_.front().second +
            (framePts - times_.front().first) * 10'000'000 / settings_.sampleRate;
        sink({packet_->data, static_cast<size_t>(packet_->size)}, time);
        av_packet_unref(packet_);
    }
}

void AacEncoder::flush(const Sink& sink)
{
    if (filled_ > 0) {
        for (int ch = 0; ch < settings_.channels; ++ch) {
            auto* plane = reinterpret_cast<float*>(frame_->data[ch]);
            std::fill(plane + filled_, plane + frame_->nb_samples, 0.0f);
        }
        sendFrame(sink);
    }
    avcodec_send_frame(codec_, nullptr);
    drain(sink);
}

} // namespace filters
