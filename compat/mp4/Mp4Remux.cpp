#include "Mp4Remux.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/error.h>
}

#include <cstdio>
#include <memory>
#include <vector>

namespace mp4 {

namespace {

struct InputCloser {
    void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};
struct OutputCloser {
    void operator()(AVFormatContext* c) const
    {
        avio_closep(&c->pb);
        avformat_free_context(c);
    }
};
struct PacketFree {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};

std::string copyStreams(const std::string& from, const std::string& to)
{
    AVFormatContext* rawIn = nullptr;
    int rc = avformat_open_input(&rawIn, from.c_str(), nullptr, nullptr);
    if (rc < 0)
        return from + ": reading the recorded file: " + avError(rc);
    std::unique_ptr<AVFormatContext, InputCloser> in(rawIn);
    if ((rc = avformat_find_stream_info(in.get(), nullptr)) < 0)
        return from + ": reading the recorded streams: " + avError(rc);

    AVFormatContext* rawOut = nullptr;
    if ((rc = avformat_alloc_output_context2(&rawOut, nullptr, "mp4", to.c_str())) < 0)
        return to + ": creating the MP4 muxer: " + avError(rc);
    std::unique_ptr<AVFormatContext, OutputCloser> out(rawOut);

    for (unsigned i = 0; i < in->nb_streams; ++i) {
        AVStream* src = in->streams[i];
        AVStream* dst = avformat_new_stream(out.get(), nullptr);
        if (!dst || avcodec_parameters_copy(dst->codecpar, src->codecpar) < 0)
            return to + ": copying the track parameters";
        dst->codecpar->codec_tag = 0;
        dst->time_base = src->time_base;
        dst->avg_frame_rate = src->avg_frame_rate;
    }
    if ((rc = avio_open(&out->pb, to.c_str(), AVIO_FLAG_WRITE)) < 0)
        return to + ": opening for writing: " + avError(rc);
    AVDictionary* options = nullptr;
    av_dict_set(&options, "movflags", "faststart", 0);
    rc = avformat_write_header(out.get(), &options);
    av_dict_free(&options);
    if (rc < 0)
        return to + ": writing the MP4 header: " + avError(rc);

    std::unique_ptr<AVPacket, PacketFree> packet(av_packet_alloc());
    while ((rc = av_read_frame(in.get(), packet.get())) >= 0) {
        const AVStream* src = in->streams[packet->stream_index];
        av_packet_rescale_ts(packet.get(), src->time_base,
                             out->streams[packet->stream_index]->time_base);
        packet->pos = -1;
        if ((rc = av_interleaved_write_frame(out.get(), packet.get())) < 0)
            return to + ": writing a sample: " + avError(rc);
    }
    if (rc != AVERROR_EOF)
        return from + ": reading a sample: " + avError(rc);
    if ((rc = av_write_trailer(out.get())) < 0)
        return to + ": writing the MP4 index: " + avError(rc);
    return {};
}

} // namespace

std::string remuxToPlainMp4(const std::string& path)
{
    const std::string temporary = path + ".remux";
    std::string error = copyStreams(path, temporary);
    if (error.empty() && std::rename(temporary.c_str(), path.c_str()) != 0)
        error = temporary + ": replacing the recorded file";
    if (!error.empty())
        std::remove(temporary.c_str());
    return error;
}

std::string avError(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

} // namespace mp4
