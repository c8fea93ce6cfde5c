#pragma once
// libavformat, loaded when the first MP4 or Matroska file is written, for the
// same reason the decoders load libavcodec late (codec/ffmpeg_library.h):
// every other qmtool command, and an AVI export, would pay for mapping it.
// Its dependencies libavcodec and libavutil come with it; their entry points
// are found through the same handle.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/packet.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libavutil/mathematics.h>
#include <libavutil/mem.h>
}

namespace qm {

struct MuxLibrary {
    decltype(&::avformat_alloc_output_context2) avformat_alloc_output_context2;
    decltype(&::avformat_new_stream) avformat_new_stream;
    decltype(&::avformat_write_header) avformat_write_header;
    decltype(&::av_interleaved_write_frame) av_interleaved_write_frame;
    decltype(&::av_write_trailer) av_write_trailer;
    decltype(&::avformat_free_context) avformat_free_context;
    decltype(&::avio_alloc_context) avio_alloc_context;
    decltype(&::avio_context_free) avio_context_free;
    decltype(&::avio_flush) avio_flush;
    decltype(&::av_packet_alloc) av_packet_alloc;
    decltype(&::av_packet_free) av_packet_free;
    decltype(&::av_malloc) av_malloc;
    decltype(&::av_mallocz) av_mallocz;
    decltype(&::av_free) av_free;
    decltype(&::av_dict_set) av_dict_set;
    decltype(&::av_strerror) av_strerror;
    decltype(&::av_rescale_q) av_rescale_q;
    // Encoding MP4's sound (ALAC).
    decltype(&::avcodec_find_encoder) avcodec_find_encoder;
    decltype(&::avcodec_alloc_context3) avcodec_alloc_context3;
    decltype(&::avcodec_open2) avcodec_open2;
    decltype(&::avcodec_free_context) avcodec_free_context;
    decltype(&::avcodec_send_frame) avcodec_send_frame;
    decltype(&::avcodec_receive_packet) avcodec_receive_packet;
    decltype(&::avcodec_parameters_from_context) avcodec_parameters_from_context;
    decltype(&::av_frame_alloc) av_frame_alloc;
    decltype(&::av_frame_free) av_frame_free;
    decltype(&::av_frame_get_buffer) av_frame_get_buffer;
    // Reading files back (qmtool verify).
    decltype(&::avformat_alloc_context) avformat_alloc_context;
    decltype(&::avformat_open_input) avformat_open_input;
    decltype(&::avformat_close_input) avformat_close_input;
    decltype(&::av_read_frame) av_read_frame;
    decltype(&::av_packet_unref) av_packet_unref;
    decltype(&::av_log_set_level) av_log_set_level;
};

// Loads the library on the first call, from any thread. False, after a
// diagnostic line, when it cannot be loaded.
bool MuxLibraryLoaded();
// The entry points; only after MuxLibraryLoaded() returned true.
const MuxLibrary& Mux();

} // namespace qm
