// Plays a recording in the player window, offscreen, for a while and reports
// what it cost: frames drawn against frames due, CPU time and peak resident
// memory. Used by bench/player_bench.sh.
//
//   qm_player_bench ARCHIVE MODE SECONDS FPS [WIDTH HEIGHT [SPEED]]
//
// MODE is the split (1, 2 = 2 x 2, 3 = 3 x 3, 4 = 4 x 4, 5 = 32); the window
// is WIDTH x HEIGHT (default 1030 x 640, the main window's video area).
// SPEED (1 to 64, a power of two) plays fast forward at that speed, a
// negative one fast reverse, and adds the recorded seconds that went by per
// wall second.

#include "player/player_ex.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include <sys/resource.h>

namespace {

long PeakResidentKiB() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 5 && argc != 7 && argc != 8) {
        std::fprintf(stderr,
                     "usage: qm_player_bench ARCHIVE MODE SECONDS FPS [WIDTH HEIGHT [SPEED]]\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const std::string path = argv[1];
    const int mode = std::atoi(argv[2]);
    const int seconds = std::atoi(argv[3]);
    const int fps = std::atoi(argv[4]);
    const int width = argc >= 7 ? std::atoi(argv[5]) : 1030;
    const int height = argc >= 7 ? std::atoi(argv[6]) : 640;
    const int signedSpeed = argc == 8 ? std::atoi(argv[7]) : 1;
    const bool reverse = signedSpeed < 0;
    const int speed = reverse ? -signedSpeed : signedSpeed;
    if (mode < 1 || mode > 5 || seconds <= 0 || fps <= 0 || width <= 0 || height <= 0 ||
        speed < 1 || speed > 64 || !std::has_single_bit(unsigned(speed))) {
        std::fprintf(stderr, "qm_player_bench: bad argument\n");
        return 2;
    }

    qm::CQMPlayerEx player;
    player.resize(width, height);
    player.SetChannelMask(0xFFFFFFFFu);
    player.SetSplit(mode);
    player.UpdateLayout();
    const double cpuBefore = CpuSeconds();
    if (!player.OpenArchive(path)) {
        std::fprintf(stderr, "qm_player_bench: cannot open %s\n", path.c_str());
        return 1;
    }
    // The mask above lists every camera; only the recorded ones have frames.
    player.SetChannelMask(player.Recording().channelMask);
    player.UpdateLayout();
    const uint32_t shownMask = player.DisplayedMask() & player.Recording().channelMask;

    // The event loop sleeps until the window has something to do, as the
    // application's does: polling it here would bill the benchmark's own
    // spinning to the player.
    if (reverse) {
        // From the middle, so that there is room to go back.
        const auto facts = player.Recording();
        player.SeekTo(facts.rangeStart + (facts.rangeEnd - facts.rangeStart) / 2);
        player.Slower(); // 2x back
        for (int s = 2; s < speed; s *= 2)
            player.Slower();
    } else {
        for (int s = 1; s < speed; s *= 2)
            player.Faster();
    }
    const uint32_t startTime =
        player.CurrentTime() ? player.CurrentTime() : player.Recording().rangeStart;
    QElapsedTimer clock;
    clock.start();
    QTimer::singleShot(seconds * 1000, &app, &QCoreApplication::quit);
    app.exec();
    const double wall = double(clock.elapsed()) / 1000.0;
    const double cpu = CpuSeconds() - cpuBefore;
    const uint64_t drawn = player.DrawCount();
    const uint32_t endTime = player.CurrentTime();
    player.Shutdown();

    const int channels = std::popcount(shownMask);
    const double due = double(channels) * fps * wall;
    std::printf("channels shown   %d\n", channels);
    std::printf("wall seconds     %.1f\n", wall);
    std::printf("frames drawn     %llu\n", static_cast<unsigned long long>(drawn));
    std::printf("frames due       %.0f\n", due);
    std::printf("cpu seconds      %.2f (%.0f%% of one core)\n", cpu, 100.0 * cpu / wall);
    std::printf("peak resident    %.1f MB\n", double(PeakResidentKiB()) / 1024.0);
    if (speed > 1)
        std::printf("recorded s per s %.1f (asked %dx%s)\n",
                    std::abs(double(endTime) - double(startTime)) / wall, speed,
                    reverse ? " back" : "");
    return 0;
}
