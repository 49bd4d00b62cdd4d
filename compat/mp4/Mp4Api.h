#pragma once
// The MP4 writer library: one MP4_Start, any number of MP4_WriteSample calls on track 0 (H.264)
// or 1 (AAC), one MP4_Stop. While recording the file is written in fragments, so a program that
// dies loses at most the last second or two; MP4_Stop turns it into a plain, seekable MP4.

#include <cstddef>
#include <cstdint>
#include <string>

// Start parameters. Offsets 0-59 are the historical 64-byte layout; that layout carried the
// decoder configuration address in 4 bytes at offset 60, which cannot hold a 64-bit address, so
// the address lives in a 64-bit field at offset 64 and `recordSize` is 72. Zero-fill before use.
struct Mp4Params {
    uint16_t recordSize;           // sizeof(Mp4Params)
    uint8_t videoPresent;          // 1
    uint8_t reserved3;
    uint32_t videoFormat;          // 'H264' read little-endian: 0x34363248
    uint32_t width;
    uint32_t height;
    uint32_t videoConstant16;      // 24 (bit depth of the source pictures)
    uint32_t frameRate;            // frames per second
    uint32_t videoBitRate;         // bit/s
    uint32_t reserved28;
    uint32_t reserved32;
    uint8_t audioPresent;          // 1 with audio, else 0
    uint8_t reserved37[3];
    uint32_t audioConstant40;      // 1 with audio
    uint32_t audioConstant44;      // 2 with audio
    uint32_t audioBitRate;         // bit/s
    uint32_t audioSampleRate;      // samples per second
    uint32_t decoderConfigLength;  // AudioSpecificConfig bytes
    uint32_t reserved60;           // historical 32-bit address slot, unused
    uint64_t decoderConfigAddress; // address of the AudioSpecificConfig bytes
};
static_assert(sizeof(Mp4Params) == 72);
static_assert(offsetof(Mp4Params, videoFormat) == 4);
static_assert(offsetof(Mp4Params, frameRate) == 20);
static_assert(offsetof(Mp4Params, audioPresent) == 36);
static_assert(offsetof(Mp4Params, audioSampleRate) == 52);
static_assert(offsetof(Mp4Params, decoderConfigLength) == 56);
static_assert(offsetof(Mp4Params, decoderConfigAddress) == 64);

inline constexpr uint32_t kMp4VideoFormatH264 = 0x34363248;

// Results of MP4_Start and MP4_WriteSample: 0 is success, anything else a failure.
enum Mp4Result : uint8_t {
    Mp4Ok = 0,
    Mp4BadArgument = 1,  // null pointer, wrong record size, unknown track, empty sample
    Mp4UnknownHandle = 2,
    Mp4IoError = 3,      // the file could not be created or written
    Mp4NotWritten = 4,   // video before its first key frame: no decoder configuration yet
};

extern "C" {
// path: zero-terminated UTF-16; *handle receives a non-zero handle on success.
uint8_t MP4_Start(const char16_t* path, const Mp4Params* params, uint32_t* handle);
// track 0 = video, 1 = audio; time in 100 ns units; key 1 = key frame.
uint8_t MP4_WriteSample(uint32_t handle, uint32_t track, int64_t time, const uint8_t* data,
                        uint32_t length, uint8_t key);
void MP4_Stop(uint32_t handle);
}

namespace mp4 {
// Text of the last failure on the calling thread (file, step and library message), for the log.
std::string lastError();
}
