#include "codec/ffmpeg_library.h"

#include "platform/diagnostics.h"

#include <dlfcn.h>
#include <mutex>
#include <string>

namespace qm {
namespace {

FfmpegLibrary g_library{};
bool g_loaded = false;

// The versions the program was built against: another major version has
// another ABI.
std::string SharedObject(const char* name, int major) {
    return "lib" + std::string(name) + ".so." + std::to_string(major);
}

template <typename F> bool Find(void* handle, const char* symbol, F& out) {
    out = reinterpret_cast<F>(::dlsym(handle, symbol));
    if (!out) qmLog("FFmpeg: %s not found\n", symbol);
    return out != nullptr;
}

bool Load() {
    // Never closed: decoders may live until the program ends.
    void* codec =
        ::dlopen(SharedObject("avcodec", LIBAVCODEC_VERSION_MAJOR).c_str(), RTLD_NOW | RTLD_LOCAL);
    void* scale =
        ::dlopen(SharedObject("swscale", LIBSWSCALE_VERSION_MAJOR).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!codec || !scale) {
        qmLog("FFmpeg cannot be loaded: %s\n", ::dlerror());
        return false;
    }
    // libavutil comes with libavcodec; its symbols are found through it.
    FfmpegLibrary& l = g_library;
    bool ok = true;
#define QM_FIND(handle, name) ok = Find(handle, #name, l.name) && ok
    QM_FIND(codec, avcodec_find_decoder);
    QM_FIND(codec, avcodec_alloc_context3);
    QM_FIND(codec, avcodec_open2);
    QM_FIND(codec, avcodec_free_context);
    QM_FIND(codec, avcodec_send_packet);
    QM_FIND(codec, avcodec_receive_frame);
    QM_FIND(codec, av_packet_alloc);
    QM_FIND(codec, av_packet_free);
    QM_FIND(codec, av_packet_unref);
    QM_FIND(codec, av_new_packet);
    QM_FIND(codec, av_frame_alloc);
    QM_FIND(codec, av_frame_free);
    QM_FIND(codec, av_frame_unref);
    QM_FIND(codec, av_frame_move_ref);
    QM_FIND(codec, av_channel_layout_default);
    QM_FIND(codec, av_pix_fmt_desc_get);
    QM_FIND(codec, av_image_get_buffer_size);
    QM_FIND(codec, av_image_copy_to_buffer);
    QM_FIND(codec, av_md5_sum);
    QM_FIND(codec, av_log_set_callback);
    QM_FIND(codec, av_log_format_line2);
    QM_FIND(scale, sws_getContext);
    QM_FIND(scale, sws_freeContext);
    QM_FIND(scale, sws_getCoefficients);
    QM_FIND(scale, sws_setColorspaceDetails);
    QM_FIND(scale, sws_scale);
#undef QM_FIND
    return ok;
}

} // namespace

bool FfmpegLoaded() {
    static std::once_flag once;
    std::call_once(once, [] { g_loaded = Load(); });
    return g_loaded;
}

const FfmpegLibrary& Ffmpeg() {
    // Also orders this thread's reads after the loading thread's writes.
    FfmpegLoaded();
    return g_library;
}

} // namespace qm
