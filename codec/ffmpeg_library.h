#pragma once
// FFmpeg's libraries, loaded when a decoder is first needed rather than when
// the program starts. libavcodec brings in every codec library Debian links
// it with, about a hundred shared objects; mapping them costs a command that
// never decodes (qmtool info, frames, export) more than its own work.
//
// The entry points keep their FFmpeg names and signatures; call them through
// Ffmpeg() once FfmpegLoaded() has said yes.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
#include <libavutil/imgutils.h>
#include <libavutil/log.h>
#include <libavutil/md5.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace qm {

struct FfmpegLibrary {
    // libavcodec
    decltype(&::avcodec_find_decoder) avcodec_find_decoder;
    decltype(&::avcodec_alloc_context3) avcodec_alloc_context3;
    decltype(&::avcodec_open2) avcodec_open2;
    decltype(&::avcodec_free_context) avcodec_free_context;
    decltype(&::avcodec_send_packet) avcodec_send_packet;
    decltype(&::avcodec_receive_frame) avcodec_receive_frame;
    decltype(&::av_packet_alloc) av_packet_alloc;
    decltype(&::av_packet_free) av_packet_free;
    decltype(&::av_packet_unref) av_packet_unref;
    decltype(&::av_new_packet) av_new_packet;
    // libavutil
    decltype(&::av_frame_alloc) av_frame_alloc;
    decltype(&::av_frame_free) av_frame_free;
    decltype(&::av_frame_unref) av_frame_unref;
    decltype(&::av_frame_move_ref) av_frame_move_ref;
    decltype(&::av_channel_layout_default) av_channel_layout_default;
    decltype(&::av_pix_fmt_desc_get) av_pix_fmt_desc_get;
    decltype(&::av_image_get_buffer_size) av_image_get_buffer_size;
    decltype(&::av_image_copy_to_buffer) av_image_copy_to_buffer;
    decltype(&::av_md5_sum) av_md5_sum;
    decltype(&::av_log_set_callback) av_log_set_callback;
    decltype(&::av_log_format_line2) av_log_format_line2;
    // libswscale
    decltype(&::sws_getContext) sws_getContext;
    decltype(&::sws_freeContext) sws_freeContext;
    decltype(&::sws_getCoefficients) sws_getCoefficients;
    decltype(&::sws_setColorspaceDetails) sws_setColorspaceDetails;
    decltype(&::sws_scale) sws_scale;
};

// Loads the libraries on the first call (from any thread; later calls only
// read the result). False, after a diagnostic line, when they cannot be
// loaded: decoding then fails as for a stream no decoder takes.
bool FfmpegLoaded();
// The entry points; only after FfmpegLoaded() returned true.
const FfmpegLibrary& Ffmpeg();

} // namespace qm
