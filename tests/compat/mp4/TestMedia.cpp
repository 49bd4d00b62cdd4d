#include "TestMedia.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

#include <cmath>
#include <stdexcept>

namespace testmedia {

namespace {
void drain(AVCodecContext* c, AVPacket* p, std::vector<Sample>& out)
{
    while (avcodec_receive_packet(c, p) == 0) {
        out.push_back({{p->data, p->data + p->size}, (p->flags & AV_PKT_FLAG_KEY) != 0});
        av_packet_unref(p);
    }
}
} // namespace

std::vector<Sample> h264Frames(int width, int height, int count, int keyInterval)
{
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    if (!codec)
        throw std::runtime_error("libavcodec has no libx264 encoder");
    AVCodecContext* c = avcodec_alloc_context3(codec);
    c->width = width;
    c->height = height;
    c->pix_fmt = AV_PIX_FMT_YUV420P;
    c->time_base = {1, 20};
    c->gop_size = keyInterval;
    c->max_b_frames = 0;
    c->bit_rate = 500000;
    av_opt_set(c->priv_data, "preset", "ultrafast", 0);
    av_opt_set(c->priv_data, "tune", "zerolatency", 0);
    if (avcodec_open2(c, codec, nullptr) < 0)
        throw std::runtime_error("cannot open libx264");
    AVFrame* f = av_frame_alloc();
    f->width = width;
    f->height = height;
    f->format = AV_PIX_FMT_YUV420P;
    av_frame_get_buffer(f, 0);
    AVPacket* p = av_packet_alloc();
    std::vector<Sample> out;
    for (int i = 0; i < count; ++i) {
        av_frame_make_writable(f);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                f->data[0][y * f->linesize[0] + x] = static_cast<uint8_t>(x + y + 3 * i);
        for (int y = 0; y < height / 2; ++y)
            for (int x = 0; x < width / 2; ++x) {
                f->data[1][y * f->linesize[1] + x] = static_cast<uint8_t>(128 + y + i);
                f->data[2][y * f->linesize[2] + x] = static_cast<uint8_t>(64 + x);
            }
        f->pts = i;
        avcodec_send_frame(c, f);
        drain(c, p, out);
    }
    avcodec_send_frame(c, nullptr);
    drain(c, p, out);
    av_packet_free(&p);
    av_frame_free(&f);
    avcodec_free_context(&c);
    return out;
}

AacStream aacTone(int sampleRate, int channels, double seconds)
{
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
    AVCodecContext* c = avcodec_alloc_context3(codec);
    c->sample_rate = sampleRate;
    c->sample_fmt = AV_SAMPLE_FMT_FLTP;
    av_channel_layout_default(&c->ch_layout, channels);
    c->bit_rate = 64000;
    c->time_base = {1, sampleRate};
    c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (avcodec_open2(c, codec, nullptr) < 0)
        throw std::runtime_error("cannot open the AAC encoder");
    AacStream stream;
    stream.audioSpecificConfig.assign(c->extradata, c->extradata + c->extradata_size);
    AVFrame* f = av_frame_alloc();
    f->nb_samples = c->frame_size;
    f->format = c->sample_fmt;
    av_channel_layout_copy(&f->ch_layout, &c->ch_layout);
    av_frame_get_buffer(f, 0);
    AVPacket* p = av_packet_alloc();
    const int total = static_cast<int>(seconds * sampleRate);
    for (int start = 0; start < total; start += c->frame_size) {
        av_frame_make_writable(f);
        for (int ch = 0; ch < channels; ++ch) {
            auto* d = reinterpret_cast<float*>(f->data[ch]);
            for (int i = 0; i < c->frame_size; ++i)
                d[i] = 0.3f * static_cast<float>(std::sin(2 * M_PI * 440 * (start + i) / sampleRate));
        }
        f->pts = start;
        avcodec_send_frame(c, f);
        drain(c, p, stream.frames);
    }
    avcodec_send_frame(c, nullptr);
    drain(c, p, stream.frames);
    av_packet_free(&p);
    av_frame_free(&f);
    avcodec_free_context(&c);
    return stream;
}

} // namespace testmedia
