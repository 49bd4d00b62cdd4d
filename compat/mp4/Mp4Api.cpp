#include "Mp4Api.h"

#include "Mp4FileWriter.h"

#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>

namespace mp4 {

namespace {

thread_local std::string tlsLastError;

Mp4Result failWith(Mp4Result result, std::string text)
{
    tlsLastError = std::move(text);
    return result;
}

// Zero-terminated UTF-16 to UTF-8; unpaired surrogates become U+FFFD.
std::string utf8FromUtf16(const char16_t* text)
{
    std::string out;
    for (const char16_t* p = text; *p; ++p) {
        char32_t c = *p;
        if (c >= 0xD800 && c <= 0xDBFF && p[1] >= 0xDC00 && p[1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (p[1] - 0xDC00);
            ++p;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | c >> 6);
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | c >> 12);
            out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | c >> 18);
            out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
            out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// An open file with the lock that serialises the video and audio threads writing to it. Stop
// takes the file out of the table first, so a writer that still holds it finds it closed.
struct OpenFile {
    std::mutex lock;
    std::unique_ptr<Mp4FileWriter> writer;
};

class HandleTable {
public:
    uint32_t add(std::shared_ptr<OpenFile> file)
    {
        std::lock_guard guard(lock_);
        do {
            ++next_;
        } while (next_ == 0 || files_.contains(next_));
        files_[next_] = std::move(file);
        return next_;
    }
    std::shared_ptr<OpenFile> find(uint32_t handle)
    {
        std::lock_guard guard(lock_);
        auto it = files_.find(handle);
        return it == files_.end() ? nullptr : it->second;
    }
    std::shared_ptr<OpenFile> take(uint32_t handle)
    {
        std::lock_guard guard(lock_);
        auto it = files_.find(handle);
        if (it == files_.end())
            return nullptr;
        auto file = std::move(it->second);
        files_.erase(it);
        return file;
    }

private:
    std::mutex lock_;
    uint32_t next_ = 0;
    std::map<uint32_t, std::shared_ptr<OpenFile>> files_;
};

HandleTable& handles()
{
    static HandleTable table;
    return table;
}

} // namespace

std::string lastError()
{
    return tlsLastError;
}

} // namespace mp4

using namespace mp4;

extern "C" uint8_t MP4_Start(const char16_t* path, const Mp4Params* params, uint32_t* handle)
{
    if (!path || !*path || !params || !handle)
        return failWith(Mp4BadArgument, "MP4_Start: missing path, parameters or handle");
    if (params->recordSize != sizeof(Mp4Params))
        return failWith(Mp4BadArgument, "MP4_Start: parameter record size " +
                                            std::to_string(params->recordSize) + ", expected " +
                                            std::to_string(sizeof(Mp4Params)));
    const std::string file = utf8FromUtf16(path);
    if (params->videoPresent != 1 || params->videoFormat != kMp4VideoFormatH264)
        return failWith(Mp4BadArgument, file + ": only an H.264 video track is supported");

    VideoTrackConfig video;
    video.width = static_cast<int>(params->width);
    video.height = static_cast<int>(params->height);
    video.frameRate = static_cast<int>(params->frameRate);
    video.bitRate = params->videoBitRate;
    std::optional<AudioTrackConfig> audio;
    if (params->audioPresent) {
        if (params->decoderConfigLength > 64 ||
            (params->decoderConfigLength && !params->decoderConfigAddress))
            return failWith(Mp4BadArgument, file + ": invalid audio decoder configuration");
        const auto* asc = reinterpret_cast<const uint8_t*>(params->decoderConfigAddress);
        audio = AudioTrackConfig{static_cast<int>(params->audioSampleRate), params->audioBitRate,
                                 {asc, asc + params->decoderConfigLength}};
    }
    try {
        auto open = std::make_shared<OpenFile>();
        open->writer = Mp4FileWriter::create(file, video, audio);
        *handle = handles().add(std::move(open));
        return Mp4Ok;
    } catch (const std::exception& e) {
        return failWith(Mp4IoError, e.what());
    }
}

extern "C" uint8_t MP4_WriteSample(uint32_t handle, uint32_t track, int64_t time,
                                   const uint8_t* data, uint32_t length, uint8_t key)
{
    if (!data || length == 0)
        return failWith(Mp4BadArgument, "MP4_WriteSample: empty sample");
    if (track > 1)
        return failWith(Mp4BadArgument, "MP4_WriteSample: unknown track " + std::to_string(track));
    auto file = handles().find(handle);
    if (!file)
        return failWith(Mp4UnknownHandle,
                        "MP4_WriteSample: no open file with handle " + std::to_string(handle));
    std::lock_guard guard(file->lock);
    if (!file->writer)
        return failWith(Mp4UnknownHandle, "MP4_WriteSample: the file was closed");
    const std::span<const uint8_t> bytes(data, length);
    const Mp4Result result = track == 0 ? file->writer->writeVideo(time, bytes, key == 1)
                                        : file->writer->writeAudio(time, bytes);
    if (result != Mp4Ok)
        tlsLastError = file->writer->lastError();
    return result;
}

extern "C" void MP4_Stop(uint32_t handle)
{
    auto file = handles().take(handle);
    if (!file) {
        tlsLastError = "MP4_Stop: no open file with handle " + std::to_string(handle);
        return;
    }
    std::lock_guard guard(file->lock);
    tlsLastError = file->writer->finish();
    file->writer.reset();
}
