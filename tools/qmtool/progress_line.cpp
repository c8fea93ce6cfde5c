#include "tools/qmtool/progress_line.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>
#include <unistd.h>

namespace qmtool {

void RunWithProgressLine(const std::string& label, const std::function<int()>& percent,
                         const std::function<void()>& work) {
    std::mutex doneLock;
    std::condition_variable doneChanged;
    bool done = false;
    std::thread worker([&] {
        work();
        std::lock_guard lock(doneLock);
        done = true;
        doneChanged.notify_all();
    });
    const bool showProgress = ::isatty(STDERR_FILENO) == 1;
    for (std::unique_lock lock(doneLock); !done;) {
        if (showProgress) std::fprintf(stderr, "\r%s: %3d%%", label.c_str(), percent());
        doneChanged.wait_for(lock, std::chrono::milliseconds(200), [&] { return done; });
    }
    worker.join();
    if (showProgress) std::fprintf(stderr, "\r%s: %3d%%\n", label.c_str(), percent());
}

} // namespace qmtool
