#include "Mp4FileWriter.h"

#include "AnnexB.h"
#include "Mp4Remux.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libavutil/mem.h>
}

#include <cstring>
#include <stdexcept>

namespace mp4 {

namespace {

constexpr AVRational kHundredNanoseconds{1, 10'000'000};
constexpr AVRational kVideoTimeBase{1, 90'000};
constexpr int kAacFrameSamples = 1024;
// A second of fragments at most in memory: what a killed recording can lose.
constexpr const char* kFragmentDuration = "1000000";
// Audio that arrives before the first video key frame waits for it; more than this is dropped.
constexpr size_t kMaxPendingAudio = 1000;

// Channel count from an AudioSpecificConfig: object type (5 bits, 6 more when 31), sampling
// frequency index (4 bits, a 24-bit rate when 15), channel configuration (4 bits).
int aacChannels(const std::vector<uint8_t>& asc)
{
    uint64_t bits = 0;
    for (size_t i = 0; i < 8; ++i)
        bits = bits << 8 | (i < asc.size() ? asc[i] : 0);
    int pos = 0;
    auto take = [&](int n) {
        const auto v = static_cast<int>((bits >> (64 - pos - n)) & ((1u << n) - 1));
        pos += n;
        return v;
    };
    if (take(5) == 31)
        take(6);
    if (take(4) == 15)
        take(24);
    return take(4);
}

bool setExtradata(AVCodecParameters* par, const std::vector<uint8_t>& bytes)
{
    par->extradata = static_cast<uint8_t*>(av_mallocz(bytes.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!par->extradata)
        return false;
    std::memcpy(par->extradata, bytes.data(), bytes.size());
    par->extradata_size = static_cast<int>(bytes.size());
    return true;
}

} // namespace

Mp4FileWriter::Mp4FileWriter(std::string path) : path_(std::move(path)) {}

Mp4FileWriter::~Mp4FileWriter()
{
    if (context_) {
        if (headerWritten_)
            av_write_trailer(context_);
        avio_closep(&context_->pb);
        avformat_free_context(context_);
    }
}

std::unique_ptr<Mp4FileWriter> Mp4FileWriter::create(const std::string& path,
                                                     const VideoTrackConfig& video,
                                                     const std::optional<AudioTrackConfig>& audio)
{
    auto fail = [&](const std::string& step) {
        throw std::runtime_error(path + ": " + step);
    };
    if (video.width <= 0 || video.height <= 0 || video.frameRate <= 0)
        fail("invalid video size or frame rate");
    if (audio && (audio->sampleRate <= 0 || audio->audioSpecificConfig.size() < 2))
        fail("invalid audio sampling rate or decoder configuration");

    std::unique_ptr<Mp4FileWriter> writer(new Mp4FileWriter(path));
    int rc = avformat_alloc_output_context2(&writer->context_, nullptr, "mp4", path.c_str());
    if (rc < 0)
        fail("creating the MP4 muxer: " + avError(rc));
    AVFormatContext* ctx = writer->context_;

    AVStream* vs = avformat_new_stream(ctx, nullptr);
    if (!vs)
        fail("adding the video track");
    vs->time_base = kVideoTimeBase;
    vs->avg_frame_rate = AVRational{video.frameRate, 1};
    vs->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
    vs->codecpar->codec_id = AV_CODEC_ID_H264;
    vs->codecpar->width = video.width;
    vs->codecpar->height = video.height;
    vs->codecpar->bit_rate = video.bitRate;
    writer->video_.stream = vs;
    writer->defaultVideoDuration_ = 10'000'000 / video.frameRate;

    if (audio) {
        AVStream* as = avformat_new_stream(ctx, nullptr);
        if (!as)
            fail("adding the audio track");
        as->time_base = AVRational{1, audio->sampleRate};
        AVCodecParameters* par = as->codecpar;
        par->codec_type = AVMEDIA_TYPE_AUDIO;
        par->codec_id = AV_CODEC_ID_AAC;
        par->sample_rate = audio->sampleRate;
        par->bit_rate = audio->bitRate;
        par->frame_size = kAacFrameSamples;
        const int channels = aacChannels(audio->audioSpecificConfig);
        av_channel_layout_default(&par->ch_layout, channels > 0 ? channels : 2);
        if (!setExtradata(par, audio->audioSpecificConfig))
            fail("storing the audio decoder configuration");
        writer->audio_ = Track{as};
    }

    rc = avio_open(&ctx->pb, path.c_str(), AVIO_FLAG_WRITE);
    if (rc < 0)
        fail("opening the file for writing: " + avError(rc));
    return writer;
}

Mp4Result Mp4FileWriter::startFile(std::span<const uint8_t> firstKeyFrame)
{
    const std::vector<uint8_t> parameterSets = h264ParameterSets(firstKeyFrame);
    if (parameterSets.empty()) {
        error_ = path_ + ": key frame without sequence and picture parameter sets";
        return Mp4NotWritten;
    }
    if (!setExtradata(video_.stream->codecpar, parameterSets)) {
        error_ = path_ + ": out of memory storing the video decoder configuration";
        return Mp4IoError;
    }
    AVDictionary* options = nullptr;
    av_dict_set(&options, "movflags", "frag_keyframe+empty_moov+delay_moov+default_base_moof", 0);
    av_dict_set(&options, "frag_duration", kFragmentDuration, 0);
    av_dict_set(&options, "flush_packets", "1", 0);
    const int rc = avformat_write_header(context_, &options);
    av_dict_free(&options);
    if (rc < 0) {
        failed_ = true;
        error_ = path_ + ": writing the MP4 header: " + avError(rc);
        return Mp4IoError;
    }
    headerWritten_ = true;
    return Mp4Ok;
}

Mp4Result Mp4FileWriter::writeVideo(int64_t time, std::span<const uint8_t> accessUnit, bool key)
{
    if (failed_)
        return Mp4IoError;
    if (!headerWritten_) {
        if (!key) {
            error_ = path_ + ": video sample before the first key frame";
            return Mp4NotWritten;
        }
        if (Mp4Result r = startFile(accessUnit); r != Mp4Ok)
            return r;
        // The audio that waited for this frame goes first; its first failure is this call's.
        Mp4Result flushed = Mp4Ok;
        while (!pendingAudio_.empty()) {
            const Mp4Result r = writePacket(*audio_, pendingAudio_.front().time, pendingAudio_.front().bytes, true);
            if (flushed == Mp4Ok)
                flushed = r;
            pendingAudio_.pop_front();
        }
        const Mp4Result written = writePacket(video_, time, accessUnit, key);
        return flushed != Mp4Ok ? flushed : written;
    }
    return writePacket(video_, time, accessUnit, key);
}

Mp4Result Mp4FileWriter::writeAudio(int64_t time, std::span<const uint8_t> frame)
{
    if (!audio_) {
        error_ = path_ + ": audio sample for a file without an audio track";
        return Mp4BadArgument;
    }
    if (failed_)
        return Mp4IoError;
    if (!headerWritten_) {
        if (pendingAudio_.size() >= kMaxPendingAudio) {
            error_ = path_ + ": audio waited too long for the first video key frame";
            return Mp4NotWritten;
        }
        pendingAudio_.push_back({time, {frame.begin(), frame.end()}});
        return Mp4Ok;
    }
    return writePacket(*audio_, time, frame, true);
}

Mp4Result Mp4FileWriter::writePacket(Track& track, int64_t time, std::span<const uint8_t> bytes,
                                     bool key)
{
    AVStream* st = track.stream;
    int64_t dts = av_rescale_q(time, kHundredNanoseconds, st->time_base);
    // Time stamps must rise strictly; a repeated or backward stamp would be refused.
    if (track.lastDts != INT64_MIN) {
        if (dts <= track.lastDts)
            dts = track.lastDts + 1;
        track.lastDelta = dts - track.lastDts;
    } else {
        track.lastDelta = st == video_.stream
            ? av_rescale_q(defaultVideoDuration_, kHundredNanoseconds, st->time_base)
            : kAacFrameSamples;
    }
    track.lastDts = dts;

    AVPacket* packet = av_packet_alloc();
    if (!packet || av_new_packet(packet, static_cast<int>(bytes.size())) < 0) {
        av_packet_free(&packet);
        error_ = path_ + ": out of memory for a sample";
        return Mp4IoError;
    }
    std::memcpy(packet->data, bytes.data(), bytes.size());
    packet->stream_index = st->index;
    packet->dts = packet->pts = dts;
    packet->duration = track.lastDelta;
    if (key)
        packet->flags |= AV_PKT_FLAG_KEY;
    const int rc = av_write_frame(context_, packet);
    av_packet_free(&packet);
    if (rc < 0) {
        error_ = path_ + ": writing a sample: " + avError(rc);
        return Mp4IoError;
    }
    return Mp4Ok;
}

std::string Mp4FileWriter::finish()
{
    if (!context_)
        return {};
    std::string result;
    const bool hadMedia = headerWritten_;
    if (headerWritten_) {
        const int rc = av_write_trailer(context_);
        headerWritten_ = false;
        if (rc < 0)
            result = path_ + ": finishing the fragmented file: " + avError(rc);
    } else {
        result = path_ + ": no video key frame was written; the file holds no media";
    }
    avio_closep(&context_->pb);
    avformat_free_context(context_);
    context_ = nullptr;
    if (hadMedia && result.empty())
        result = remuxToPlainMp4(path_);
    return result;
}

} // namespace mp4
