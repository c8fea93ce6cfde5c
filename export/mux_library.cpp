#include "export/mux_library.h"

#include "platform/diagnostics.h"

#include <dlfcn.h>
#include <mutex>
#include <string>

namespace qm {
namespace {

MuxLibrary g_library{};
bool g_loaded = false;

template <typename F> bool Find(void* handle, const char* symbol, F& out) {
    out = reinterpret_cast<F>(::dlsym(handle, symbol));
    if (!out) qmLog("libavformat: %s not found\n", symbol);
    return out != nullptr;
}

bool Load() {
    // The major version built against: another one has another ABI. Never
    // closed, as the decoders' libraries are not.
    const std::string name = "libavformat.so." + std::to_string(LIBAVFORMAT_VERSION_MAJOR);
    void* format = ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!format) {
        qmLog("libavformat cannot be loaded: %s\n", ::dlerror());
        return false;
    }
    MuxLibrary& l = g_library;
    bool ok = true;
#define QM_FIND(name) ok = Find(format, #name, l.name) && ok
    QM_FIND(avformat_alloc_output_context2);
    QM_FIND(avformat_new_stream);
    QM_FIND(avformat_write_header);
    QM_FIND(av_interleaved_write_frame);
    QM_FIND(av_write_trailer);
    QM_FIND(avformat_free_context);
    QM_FIND(avio_alloc_context);
    QM_FIND(avio_context_free);
    QM_FIND(avio_flush);
    QM_FIND(av_packet_alloc);
    QM_FIND(av_packet_free);
    QM_FIND(av_malloc);
    QM_FIND(av_mallocz);
    QM_FIND(av_free);
    QM_FIND(av_dict_set);
    QM_FIND(av_strerror);
    QM_FIND(av_rescale_q);
    QM_FIND(avcodec_find_encoder);
    QM_FIND(avcodec_alloc_context3);
    QM_FIND(avcodec_open2);
    QM_FIND(avcodec_free_context);
    QM_FIND(avcodec_send_frame);
    QM_FIND(avcodec_receive_packet);
    QM_FIND(avcodec_parameters_from_context);
    QM_FIND(av_frame_alloc);
    QM_FIND(av_frame_free);
    QM_FIND(av_frame_get_buffer);
    QM_FIND(avformat_alloc_context);
    QM_FIND(avformat_open_input);
    QM_FIND(avformat_close_input);
    QM_FIND(av_read_frame);
    QM_FIND(av_packet_unref);
    QM_FIND(av_log_set_level);
#undef QM_FIND
    return ok;
}

} // namespace

bool MuxLibraryLoaded() {
    static std::once_flag once;
    std::call_once(once, [] { g_loaded = Load(); });
    return g_loaded;
}

const MuxLibrary& Mux() {
    MuxLibraryLoaded();
    return g_library;
}

} // namespace qm
