#pragma once

#include "compat/com/ClassRegistry.h"
#include "compat/dshow/TransformFilter.h"
#include "compat/dshow/mjpeg/JpegFrameDecoder.h"

#include <atomic>
#include <mutex>
#include <string>

namespace sc::mjpeg {

// The motion-JPEG decompressor: MJPG pictures in, YUY2 (preferred), RGB24 or RGB32 of the same
// size out. A picture that cannot be decoded (corrupt, cut short, of another size) is dropped;
// the stream goes on with the next one.
class MjpegDecompressor final : public CTransformFilter {
public:
    MjpegDecompressor();

    HRESULT CheckInputType(const AM_MEDIA_TYPE *type) override;
    HRESULT CheckTransform(const AM_MEDIA_TYPE *input, const AM_MEDIA_TYPE *output) override;
    HRESULT GetMediaType(int position, AM_MEDIA_TYPE *type) override;
    HRESULT DecideBufferSize(IMemAllocator *allocator, ALLOCATOR_PROPERTIES *request) override;
    HRESULT Transform(IMediaSample *input, IMediaSample *output) override;
    HRESULT SetMediaType(PIN_DIRECTION direction, const AM_MEDIA_TYPE *type) override;

    uint64_t FramesDecoded() const { return decoded_.load(); }
    uint64_t FramesDropped() const { return dropped_.load(); }
    // Why the last dropped picture was dropped.
    std::string LastDropReason() const;

    static const ClassRegistration &Registration();

private:
    struct Output {
        PictureFormat format = PictureFormat::Yuy2;
        int width = 0, height = 0, stride = 0;
        bool bottomUp = false;
        uint32_t imageSize = 0;
    };
    static bool DescribeOutput(const AM_MEDIA_TYPE &type, Output *output);

    JpegFrameDecoder decoder_;  // used on the delivering thread only, under the receive lock
    Output output_;
    std::atomic<uint64_t> decoded_{0};
    std::atomic<uint64_t> dropped_{0};
    mutable std::mutex reasonLock_;
    std::string lastDropReason_;
};

} // namespace sc::mjpeg
