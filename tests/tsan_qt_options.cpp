// Linked into the test programs that draw with Qt.
#if defined(__SANITIZE_THREAD__)
// Qt is not built with ThreadSanitizer: the worker threads QPainter uses for
// smooth scaling hand their results back through synchronisation that the
// sanitizer cannot see. Accesses made inside the Qt libraries are left out;
// our own code is still checked.
extern "C" const char* __tsan_default_options() {
    return "ignore_noninstrumented_modules=1";
}
#endif
