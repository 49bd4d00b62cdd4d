#pragma once
#include "Mp4Api.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

struct AVFormatContext;
struct AVStream;

namespace mp4 {

struct VideoTrackConfig {
    int width = 0;
    int height = 0;
    int frameRate = 20;
    int64_t bitRate = 0;
};

struct AudioTrackConfig {
    int sampleRate = 0;
    int64_t bitRate = 0;
    std::vector<uint8_t> audioSpecificConfig;
};

// One MP4 file being recorded: an H.264 track and optionally an AAC track, time stamps in
// 100 ns units. The file is fragmented while it is written (each fragment reaches the disk
// within a second), so a killed program leaves a playable file; finish() rewrites it as a
// plain MP4 with its index in front. Not thread-safe: the caller serialises.
class Mp4FileWriter {
public:
    ~Mp4FileWriter();
    Mp4FileWriter(const Mp4FileWriter&) = delete;
    Mp4FileWriter& operator=(const Mp4FileWriter&) = delete;

    // Creates the file. Throws std::runtime_error with the file and the failed step.
    static std::unique_ptr<Mp4FileWriter> create(const std::string& path,
                                                 const VideoTrackConfig& video,
                                                 const std::optional<AudioTrackConfig>& audio);

    Mp4Result writeVideo(int64_t time, std::span<const uint8_t> accessUnit, bool key);
    Mp4Result writeAudio(int64_t time, std::span<const uint8_t> frame);
    // Closes the fragmented file and rewrites it as a plain MP4. Returns an error text, empty
    // on success; on a failed rewrite the fragmented file stays, complete and playable.
    std::string finish();

    const std::string& lastError() const { return error_; }

private:
    struct Track {
        AVStream* stream = nullptr;
        int64_t lastDts = INT64_MIN;
        int64_t lastDelta = 0; // in the stream's time base
    };
    struct PendingAudio {
        int64_t time;
        std::vector<uint8_t> bytes;
    };

    Mp4FileWriter(std::string path);
    Mp4Result startFile(std::span<const uint8_t> firstKeyFrame);
    Mp4Result writePacket(Track& track, int64_t time, std::span<const uint8_t> bytes, bool key);

    std::string path_;
    AVFormatContext* context_ = nullptr;
    Track video_;
    std::optional<Track> audio_;
    int64_t defaultVideoDuration_ = 0; // 100 ns
    bool headerWritten_ = false;
    bool failed_ = false;
    std::deque<PendingAudio> pendingAudio_;
    std::string error_;
};

} // namespace mp4
