// What an examiner feels, measured in the real main window, offscreen: how
// long the window takes to show every camera, how long after a timeline
// release every camera shows the new moment, whether fast forward and reverse
// keep their pace, and what long play of many cameras costs. Each run prints
// one JSON object on stdout. Used by bench/responsiveness.sh.
//
//   qm_responsiveness start SOURCE [RUNS]       first pictures after start
//   qm_responsiveness seek SOURCE [SEEKS]       timeline releases
//   qm_responsiveness ff64 SOURCE [SECONDS]     fast forward at 64x
//   qm_responsiveness reverse SOURCE [SECONDS]  reverse play
//   qm_responsiveness play NAME SOURCE MODE SECONDS SPEED [WIDTH HEIGHT]
//
// SOURCE is opened as the program opens it (`-path SOURCE -m 4`, or the
// given split for `play`).

#include "app/camera_coverage.h"
#include "app/orbiscope_app.h"
#include "app/orbiscope_dlg.h"
#include "app/timeline_controller.h"
#include "app/user_prompts.h"
#include "player/player_ex.h"
#include "storage/formats.h"
#include "storage/parse_index.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using Json = nlohmann::ordered_json;

int64_t MonotonicNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double PeakResidentMb() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0)
            return double(std::strtol(line.c_str() + 6, nullptr, 10)) / 1024.0;
    return -1;
}

// The machine's load when the scenario began: the figures mean little on a busy one.
double LoadAverage() {
    std::ifstream in("/proc/loadavg");
    double load = -1;
    in >> load;
    return load;
}

double Percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    // Nearest rank: the smallest value at or above p of the samples.
    const size_t rank = size_t(std::ceil(p * double(values.size())));
    return values[std::clamp<size_t>(rank, 1, values.size()) - 1];
}

double Round1(double v) {
    return std::round(v * 10) / 10;
}

int64_t FrameMs(const qm::FrameRecord& f) {
    return int64_t(f.time) * 1000 + f.microseconds / 1000;
}

// Runs the event loop until `done` holds, checking every `periodMs`, or
// until `limitMs` passed; false on the limit.
bool LoopUntil(const std::function<bool()>& done, int periodMs, int64_t limitMs) {
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    QTimer poll;
    poll.setTimerType(Qt::PreciseTimer);
    bool met = false;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (done()) {
            met = true;
            loop.quit();
        } else if (clock.elapsed() >= limitMs) {
            loop.quit();
        }
    });
    poll.start(periodMs);
    if (done()) return true;
    loop.exec();
    return met;
}

void Wait(int ms) {
    LoopUntil([] { return false; }, ms, ms);
}

// Message boxes would wait for a click that never comes offscreen.
class StderrPrompts : public qm::IUserPrompts {
public:
    void Notice(QWidget*, const QString& text) override {
        std::fprintf(stderr, "qm_responsiveness: the window said: %s\n", qPrintable(text));
    }
};

// The program's start-up, from its command line to the shown main window.
class Window {
public:
    Window(const std::string& source, int mode)
        : m_app(&m_prompts, QStringLiteral("qm-responsiveness-%1").arg(getpid())) {
        const auto outcome = m_app.InitInstance({"-path", source, "-m", std::to_string(mode)});
        if (outcome != qm::COrbiscopeApp::Outcome::MainWindow || !m_app.MainDialog()) {
            std::fprintf(stderr, "qm_responsiveness: the main window did not start\n");
            std::exit(1);
        }
        m_app.MainWidget()->show();
    }
    qm::COrbiscopeDlg& Dlg() { return *m_app.MainDialog(); }
    qm::CQMPlayerEx& Player() { return Dlg().Player(); }

    // The recorded cameras the split shows.
    uint32_t ShownCameras() { return Player().DisplayedMask() & Player().Recording().channelMask; }

    // Every shown camera has a picture that `fits`.
    bool EveryCellShows(const std::function<bool(const qm::FrameRecord&)>& fits) {
        if (!Dlg().IsRecordingOpen()) return false;
        const uint32_t cameras = ShownCameras();
        if (!cameras) return false;
        for (int c = 0; c < qm::kMaxChannels; ++c) {
            if (!(cameras >> c & 1u)) continue;
            const auto shown = Player().ShownFrame(c);
            if (!shown || !fits(*shown)) return false;
        }
        return true;
    }

    // A timeline release at `time`, as the slider sends it.
    void Release(uint32_t time) {
        Dlg().Timeline().OnSliderPress(time);
        Dlg().Timeline().OnSliderRelease(time);
    }

    // A timeline release at `time`, then the event loop until every cell
    // shows a picture of that time: from the key frame the seek starts at (a
    // few seconds before at most) to a little after. False after `limitMs`.
    bool JumpTo(uint32_t time, int64_t limitMs) {
        Release(time);
        return LoopUntil(
            [&] {
                return EveryCellShows([&](const qm::FrameRecord& f) {
                    return f.time + 4 >= time && f.time <= time + 2;
                });
            },
            1, limitMs);
    }

    // Every cell shows a picture; false, after saying so, when that takes
    // longer than any recording should.
    bool AwaitPlaying() {
        if (LoopUntil([&] { return EveryCellShows([](const qm::FrameRecord&) { return true; }); },
                      5, 30000))
            return true;
        std::fprintf(stderr, "qm_responsiveness: the recording did not start playing\n");
        return false;
    }

    // Presses Fast Forward until the player runs at `speed`.
    bool FastForwardTo(int speed) {
        for (int press = 0; press < 8 && Player().Speed() < speed; ++press)
            Dlg().OnFastForward();
        return Player().Speed() == speed && !Player().State().reverse;
    }

private:
    StderrPrompts m_prompts;
    qm::COrbiscopeApp m_app;
};

// --- start -------------------------------------------------------------------

// One start: the parent took `spawnedNs` just before starting this process.
int StartOnce(const std::string& source, int64_t spawnedNs) {
    auto stage = [&](const char* what) {
        if (std::getenv("QM_RESPONSIVENESS_STAGES"))
            std::fprintf(stderr, "%8.1f ms  %s\n", double(MonotonicNs() - spawnedNs) / 1e6, what);
    };
    stage("main window about to start");
    Window window(source, 4);
    stage("main window shown");
    LoopUntil([&] { return window.Dlg().IsRecordingOpen(); }, 1, 30000);
    stage("recording open");
    LoopUntil([&] { return window.Player().DrawCount() > 0; }, 1, 30000);
    stage("first picture");
    if (!LoopUntil([&] { return window.EveryCellShows([](const auto&) { return true; }); }, 1,
                   30000)) {
        std::fprintf(stderr, "qm_responsiveness: the cells did not all show a picture\n");
        return 1;
    }
    std::printf("%.3f\n", double(MonotonicNs() - spawnedNs) / 1e6);
    window.Player().Shutdown();
    return 0;
}

int Start(const char* self, const std::string& source, int runs) {
    const double load = LoadAverage();
    std::vector<double> ms;
    for (int run = 0; run < runs; ++run) {
        int out[2];
        if (pipe(out) != 0) return 1;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        const int64_t t0 = MonotonicNs();
        const std::string stamp = std::to_string(t0);
        const char* argv[] = {self, "start-once", source.c_str(), stamp.c_str(), nullptr};
        pid_t pid = 0;
        const int err = posix_spawn(&pid, "/proc/self/exe", &actions, nullptr,
                                    const_cast<char**>(argv), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        std::string text;
        char buf[64];
        for (ssize_t n; err == 0 && (n = read(out[0], buf, sizeof buf)) > 0;)
            text.append(buf, size_t(n));
        close(out[0]);
        int status = 0;
        if (err != 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
            WEXITSTATUS(status) != 0 || text.empty()) {
            std::fprintf(stderr, "qm_responsiveness: start run %d failed\n", run + 1);
            return 1;
        }
        ms.push_back(std::strtod(text.c_str(), nullptr));
    }
    Json j{{"scenario", "start"},
           {"load_avg", load},
           {"runs", runs},
           {"median_ms", Round1(Percentile(ms, 0.5))},
           {"p95_ms", Round1(Percentile(ms, 0.95))},
           {"all_ms", ms}};
    std::printf("%s\n", j.dump().c_str());
    return 0;
}

// --- seek --------------------------------------------------------------------

int Seek(const std::string& source, int seeks) {
    const double load = LoadAverage();
    Window window(source, 4);
    if (!window.AwaitPlaying()) return 1;
    const auto facts = window.Player().Recording();
    if (facts.rangeEnd < facts.rangeStart + 20) {
        std::fprintf(stderr, "qm_responsiveness: seek needs a recording of 20 s or more\n");
        return 1;
    }
    std::mt19937 random(20261210);
    std::uniform_int_distribution<uint32_t> pick(facts.rangeStart + 2, facts.rangeEnd - 5);
    std::vector<double> ms;
    int missed = 0;
    for (int s = 0; s < seeks; ++s) {
        uint32_t target = pick(random);
        // Far enough from where it plays that an old picture cannot pass.
        const uint32_t now = window.Player().CurrentTime();
        if (target + 10 > now && target < now + 10)
            target = target > facts.rangeStart + 20 ? target - 15 : target + 15;
        const int64_t t0 = MonotonicNs();
        if (!window.JumpTo(target, 10000)) {
            ++missed;
            continue;
        }
        ms.push_back(double(MonotonicNs() - t0) / 1e6);
        Wait(300); // let it play a little, as a user looks before the next click
    }
    window.Player().Shutdown();
    Json j{{"scenario", "seek"},
           {"load_avg", load},
           {"seeks", seeks},
           {"missed", missed},
           {"median_ms", Round1(Percentile(ms, 0.5))},
           {"p95_ms", Round1(Percentile(ms, 0.95))},
           {"max_ms", Round1(Percentile(ms, 1.0))}};
    std::printf("%s\n", j.dump().c_str());
    return missed ? 1 : 0;
}

// --- fast forward and reverse --------------------------------------------------

// Key frame times (seconds) of each camera, from the index.
std::array<std::vector<uint32_t>, qm::kMaxChannels> KeyTimes(const qm::CQMParseIndex& reader) {
    std::array<std::vector<uint32_t>, qm::kMaxChannels> keys;
    for (const qm::BlockKeys& block : qm::BlockKeysOf(reader))
        for (const auto& [channel, time] : block.keys)
            keys[channel].push_back(time);
    for (auto& list : keys)
        std::sort(list.begin(), list.end());
    return keys;
}

size_t KeysBetween(const std::vector<uint32_t>& keys, uint32_t a, uint32_t b) {
    if (a > b) std::swap(a, b);
    return size_t(std::upper_bound(keys.begin(), keys.end(), b) -
                  std::lower_bound(keys.begin(), keys.end(), a));
}

// One stretch of fast play without a jump: where each camera was at its
// start and end, the pictures drawn and the wall time in between.
struct Stretch {
    std::array<int64_t, qm::kMaxChannels> fromMs{}, toMs{};
    uint64_t drawsFrom = 0, drawsTo = 0;
    int64_t wallFromNs = 0, wallToNs = 0;
    bool reachedEnd = false;
};

void Mark(Window& window, uint32_t cameras, std::array<int64_t, qm::kMaxChannels>& at) {
    for (int c = 0; c < qm::kMaxChannels; ++c)
        if (cameras >> c & 1u) {
            const auto shown = window.Player().ShownFrame(c);
            at[size_t(c)] = shown ? FrameMs(*shown) : -1;
        }
}

// Fast forward at 64x (reverse: reverse play) for `seconds`; at the end of
// the recording (its start in reverse) it goes back and carries on.
int FastPlay(const std::string& source, bool reverse, int seconds) {
    const double load = LoadAverage();
    Window window(source, 4);
    if (!window.AwaitPlaying()) return 1;
    qm::CQMPlayerEx& player = window.Player();
    const uint32_t cameras = window.ShownCameras();
    const auto keys = KeyTimes(player.Reader());
    const auto facts = player.Recording();
    // At 64x the play thread shows one key frame in four.
    const int every = reverse ? 1 : 4;

    auto begin = [&](Stretch& s) {
        if (reverse) {
            window.JumpTo(
                facts.rangeEnd > facts.rangeStart + 3 ? facts.rangeEnd - 2 : facts.rangeEnd, 10000);
            window.Dlg().OnReverse();
        } else if (!window.FastForwardTo(64)) {
            std::fprintf(stderr, "qm_responsiveness: fast forward did not reach 64x\n");
            std::exit(1);
        }
        Mark(window, cameras, s.fromMs);
        s.drawsFrom = player.DrawCount();
        s.wallFromNs = MonotonicNs();
    };
    // The player tells the end some ticks of its interval timer after the
    // last picture; the stretch's time ends with the last picture drawn.
    uint64_t lastDraws = 0;
    int64_t lastDrawNs = 0;
    auto end = [&](Stretch& s, bool reachedEnd) {
        s.drawsTo = player.DrawCount();
        s.wallToNs = reachedEnd && lastDrawNs > s.wallFromNs ? lastDrawNs : MonotonicNs();
        s.reachedEnd = reachedEnd;
        Mark(window, cameras, s.toMs);
    };
    auto atEnd = [&] {
        if (const uint64_t draws = player.DrawCount(); draws != lastDraws) {
            lastDraws = draws;
            lastDrawNs = MonotonicNs();
        }
        const auto activity = player.State().activity;
        if (activity == qm::Activity::kEnded) return true;
        if (!reverse) return false;
        // Reverse play stops at the first frames; the position no longer moves.
        return activity != qm::Activity::kReversing || player.CurrentTime() <= facts.rangeStart;
    };

    std::vector<Stretch> stretches;
    const double cpuBefore = CpuSeconds();
    const int64_t wallStart = MonotonicNs();
    const int64_t wallLimit = wallStart + int64_t(seconds) * 1000000000;
    stretches.emplace_back();
    begin(stretches.back());
    while (true) {
        const int64_t left = (wallLimit - MonotonicNs()) / 1000000;
        const bool ended = left > 0 && LoopUntil(atEnd, 20, left);
        end(stretches.back(), ended);
        if (!ended || MonotonicNs() >= wallLimit) break;
        // Back to the start (the end in reverse) and on.
        if (!reverse) window.JumpTo(facts.rangeStart, 10000);
        stretches.emplace_back();
        begin(stretches.back());
    }
    const double wall = double(MonotonicNs() - wallStart) / 1e9;
    const double cpu = CpuSeconds() - cpuBefore;
    player.Shutdown();

    uint64_t shown = 0;
    double due = 0, recordedMs = 0, playedNs = 0;
    for (const Stretch& s : stretches) {
        shown += s.drawsTo - s.drawsFrom;
        playedNs += double(s.wallToNs - s.wallFromNs);
        int64_t furthest = 0;
        for (int c = 0; c < qm::kMaxChannels; ++c) {
            if (!(cameras >> c & 1u) || s.fromMs[size_t(c)] < 0 || s.toMs[size_t(c)] < 0) continue;
            const int64_t from = s.fromMs[size_t(c)], to = s.toMs[size_t(c)];
            furthest = std::max(furthest, std::abs(to - from));
            // The frame shown at the start was drawn before the stretch began.
            // Key frames of the recording's last second are always shown.
            const auto& mine = keys[size_t(c)];
            const uint32_t a = uint32_t(std::min(from, to) / 1000);
            const uint32_t b = uint32_t(std::max(from, to) / 1000);
            const uint32_t lastSecond = facts.end > 0 ? facts.end - 1 : 0;
            size_t always = 0;
            size_t passed = KeysBetween(mine, a, b);
            if (!reverse && s.reachedEnd && b >= lastSecond) {
                always = KeysBetween(mine, std::max(a, lastSecond), b);
                passed -= always;
            }
            if (passed > 0) --passed;
            // Where the skip rule's count stands when a stretch begins is the
            // play thread's own: a camera shows one key frame more or less
            // of those it passed, so the share expected is counted.
            due += double(passed) / every + double(always);
        }
        recordedMs += double(furthest);
    }
    Json j{{"scenario", reverse ? "reverse" : "ff64"},
           {"load_avg", load},
           {"shown", shown},
           {"due", std::llround(due)},
           {"shown_percent", due > 0 ? Round1(100.0 * double(shown) / due) : 0.0}};
    if (!reverse) j["speed"] = playedNs > 0 ? Round1(recordedMs / 1000.0 / (playedNs / 1e9)) : 0;
    j["cpu_percent"] = Round1(100.0 * cpu / wall);
    j["wall_s"] = Round1(wall);
    j["stretches"] = stretches.size();
    std::printf("%s\n", j.dump().c_str());
    return 0;
}

// --- long play ------------------------------------------------------------------

// Frames per second of a camera, from its blocks' tables (key frames in one,
// the others in the second): frames per key frame over the usual key frame
// interval.
double FramesPerSecond(const qm::CQMParseIndex& reader, int channel) {
    uint64_t frames = 0, keyFrames = 0;
    std::vector<uint32_t> keyTimes;
    const int group = channel / qm::kChannelsPerGroup;
    const auto order = uint8_t(reader.m_nByteOrder);
    for (const qm::BlockEntry& entry : reader.BlockList(group)) {
        if (entry.IsSentinel()) continue;
        const qm::ByteView pTable(entry.pTable.data(), entry.pTable.size());
        for (uint32_t i = 0; i < entry.pCount; ++i)
            if (auto r = qm::pFrameInfoAt(pTable, i, order); r && r->channel == channel) ++frames;
        const qm::ByteView iTable(entry.iTable.data(), entry.iTable.size());
        for (uint32_t i = 0; i < entry.iCount; ++i)
            if (auto r = qm::iFrameInfoAt(iTable, i, order); r && r->channel == channel) {
                ++keyFrames;
                keyTimes.push_back(entry.mini.startTime + r->timeOffset);
            }
    }
    std::sort(keyTimes.begin(), keyTimes.end());
    std::vector<double> steps;
    for (size_t i = 1; i < keyTimes.size(); ++i)
        if (keyTimes[i] > keyTimes[i - 1]) steps.push_back(double(keyTimes[i] - keyTimes[i - 1]));
    if (!keyFrames || steps.empty()) return 0;
    return double(frames + keyFrames) / double(keyFrames) / Percentile(steps, 0.5);
}

int Play(const std::string& name, const std::string& source, int mode, int seconds, int speed,
         int width, int height) {
    const double load = LoadAverage();
    // The command line takes the splits up to 4 x 4; the 32 split is chosen
    // in the window once the recording is open.
    Window window(source, std::min(mode, 4));
    qm::CQMPlayerEx& player = window.Player();
    if (width > 0) {
        // The split fills the video area of a window that size.
        window.Dlg().resize(width, height);
    }
    if (mode > 4 && LoopUntil([&] { return window.Dlg().IsRecordingOpen(); }, 5, 30000))
        window.Dlg().SetDisplayMode(mode);
    if (!window.AwaitPlaying()) return 1;
    if (speed > 1 && !window.FastForwardTo(speed)) {
        std::fprintf(stderr, "qm_responsiveness: fast forward did not reach %dx\n", speed);
        return 1;
    }
    const uint32_t cameras = window.ShownCameras();
    double due = 0;
    const double cpuBefore = CpuSeconds();
    const uint64_t drawsBefore = player.DrawCount();
    const int64_t wallStart = MonotonicNs();
    const bool ended = LoopUntil([&] { return player.State().activity == qm::Activity::kEnded; },
                                 50, seconds * 1000);
    const double wall = double(MonotonicNs() - wallStart) / 1e9;
    const double cpu = CpuSeconds() - cpuBefore;
    const uint64_t shown = player.DrawCount() - drawsBefore;
    for (int c = 0; c < qm::kMaxChannels; ++c)
        if (cameras >> c & 1u) due += FramesPerSecond(player.Reader(), c) * wall * speed;
    const QSize area = window.Dlg().size();
    player.Shutdown();
    if (ended)
        std::fprintf(stderr, "qm_responsiveness: the recording ended before %d s\n", seconds);
    Json j{{"scenario", name},
           {"load_avg", load},
           {"cameras", std::popcount(cameras)},
           {"speed", speed},
           {"window", std::to_string(area.width()) + "x" + std::to_string(area.height())},
           {"shown", shown},
           {"due", uint64_t(std::llround(due))},
           {"shown_percent", due > 0 ? std::round(10000.0 * double(shown) / due) / 100 : 0.0},
           {"cpu_percent", Round1(100.0 * cpu / wall)},
           {"peak_rss_mb", Round1(PeakResidentMb())},
           {"wall_s", Round1(wall)}};
    std::printf("%s\n", j.dump().c_str());
    return ended ? 1 : 0;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: qm_responsiveness start SOURCE [RUNS]\n"
                 "       qm_responsiveness seek SOURCE [SEEKS]\n"
                 "       qm_responsiveness ff64|reverse SOURCE [SECONDS]\n"
                 "       qm_responsiveness play NAME SOURCE MODE SECONDS SPEED [WIDTH HEIGHT]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) return Usage();
    const std::string scenario = argv[1];
    qputenv("QT_QPA_PLATFORM", "offscreen");
    auto number = [&](int i, int fallback) { return argc > i ? std::atoi(argv[i]) : fallback; };
    if (scenario == "start") {
        const int runs = number(3, 5);
        return runs > 0 ? Start(argv[0], argv[2], runs) : Usage();
    }
    QApplication app(argc, argv);
    if (scenario == "start-once" && argc == 4)
        return StartOnce(argv[2], std::strtoll(argv[3], nullptr, 10));
    if (scenario == "seek") return Seek(argv[2], std::max(1, number(3, 20)));
    if (scenario == "ff64" || scenario == "reverse")
        return FastPlay(argv[2], scenario == "reverse", std::max(1, number(3, 20)));
    if (scenario == "play" && (argc == 7 || argc == 9)) {
        const int mode = std::atoi(argv[4]), seconds = std::atoi(argv[5]),
                  speed = std::atoi(argv[6]);
        const int width = argc == 9 ? std::atoi(argv[7]) : 0;
        const int height = argc == 9 ? std::atoi(argv[8]) : 0;
        if (mode < 1 || mode > 5 || seconds <= 0 || speed < 1 || speed > 64 ||
            !std::has_single_bit(unsigned(speed)) || (argc == 9 && (width <= 0 || height <= 0)))
            return Usage();
        return Play(argv[2], argv[3], mode, seconds, speed, width, height);
    }
    return Usage();
}
