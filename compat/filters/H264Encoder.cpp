#include "H264Encoder.h"

#include <libyuv/convert.h>

#include <stdexcept>
#include <string>

extern "C" {
#include <x264.h>
}

namespace filters {

H264Encoder::H264Encoder(const H264Settings& s) : settings_(s)
{
    if (s.width <= 0 || s.height <= 0 || s.width % 2 || s.height % 2 || s.frameRate <= 0 ||
        s.kbitRate <= 0)
        throw std::runtime_error("H.264 encoder: invalid settings " + std::to_string(s.width) +
                                 "x" + std::to_string(s.height) + " at " +
                                 std::to_string(s.kbitRate) + " kbit/s");
    x264_param_t p;
    // zerolatency: no B-frames, no look-ahead, slice threads only, so each picture in gives its
    // access unit out at once.
    if (x264_param_default_preset(&p, "superfast", "zerolatency") < 0)
        throw std::runtime_error("H.264 encoder: libx264 preset missing");
    p.i_csp = X264_CSP_I420;
    p.i_width = s.width;
    p.i_height = s.height;
    p.i_fps_num = static_cast<uint32_t>(s.frameRate);
    p.i_fps_den = 1;
    p.i_timebase_num = 1;
    p.i_timebase_den = static_cast<uint32_t>(s.frameRate);
    p.b_vfr_input = 0;
    keyInterval_ = 2 * s.frameRate;
    p.i_keyint_max = keyInterval_;
    p.i_keyint_min = s.frameRate;
    p.i_bframe = 0;
    p.b_repeat_headers = 1;
    p.b_annexb = 1;
    p.rc.i_rc_method = X264_RC_ABR;
    p.rc.i_bitrate = s.kbitRate;
    p.rc.i_vbv_max_bitrate = s.kbitRate;
    p.rc.i_vbv_buffer_size = s.kbitRate;
    p.i_log_level = X264_LOG_ERROR;
    if (x264_param_apply_profile(&p, "high") < 0)
        throw std::runtime_error("H.264 encoder: profile refused");
    encoder_ = x264_encoder_open(&p);
    if (!encoder_)
        throw std::runtime_error("H.264 encoder: libx264 refused " + std::to_string(s.width) + "x" +
                                 std::to_string(s.height));
    planes_.resize(size_t(s.width) * s.height * 3 / 2);
}

H264Encoder::~H264Encoder()
{
    if (encoder_)
        x264_encoder_close(encoder_);
}

H264Encoder::Packet H264Encoder::encode(const uint8_t* yuy2, int stride)
{
    const int w = settings_.width, h = settings_.height;
    uint8_t* y = planes_.data();
    uint8_t* u = y + size_t(w) * h;
    uint8_t* v = u + size_t(w / 2) * (h / 2);
    libyuv::YUY2ToI420(yuy2, stride, y, w, u, w / 2, v, w / 2, w, h);

    x264_picture_t in, out;
    x264_picture_init(&in);
    in.img.i_csp = X264_CSP_I420;
    in.img.i_plane = 3;
    in.img.plane[0] = y;
    in.img.plane[1] = u;
    in.img.plane[2] = v;
    in.img.i_stride[0] = w;
    in.img.i_stride[1] = w / 2;
    in.img.i_stride[2] = w / 2;
    in.i_pts = frameNumber_++;
    x264_nal_t* nals = nullptr;
    int count = 0;
    const int bytes = x264_encoder_encode(encoder_, &nals, &count, &in, &out);
    if (bytes <= 0 || count <= 0)
        return {};
    // libx264 lays the units of one picture out back to back.
    return {std::span<const uint8_t>(nals[0].p_payload, static_cast<size_t>(bytes)),
            out.b_keyframe != 0};
}

} // namespace filters
