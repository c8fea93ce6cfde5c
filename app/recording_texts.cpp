#include "app/recording_texts.h"

#include <ctime>

namespace qm {

namespace {

struct Broken {
    int year = 0, month = 0, day = 0;
    int hour = -1, minute = -1, second = -1;
};

// A time that cannot be broken down shows 0 for the date and -1 for the time.
Broken BreakDown(int64_t seconds) {
    Broken b;
    const time_t t = time_t(seconds);
    std::tm tm{};
    if (seconds < 0 || int64_t(t) != seconds || !localtime_r(&t, &tm)) return b;
    b.year = tm.tm_year + 1900;
    b.month = tm.tm_mon + 1;
    b.day = tm.tm_mday;
    b.hour = tm.tm_hour;
    b.minute = tm.tm_min;
    b.second = tm.tm_sec;
    return b;
}

} // namespace

QString FormatInfoText(int64_t localStart, int64_t localEnd, const QString& current) {
    const Broken s = BreakDown(localStart);
    const Broken e = BreakDown(localEnd);
    return QString::asprintf("Model: H264%s\nStart:\n    Date:%d-%02d-%02d\n    "
                             "Time:%02d:%02d:%02d\nCurrent:\n%s\nEnd:\n    Date:%d-%02d-%02d\n    "
                             "Time:%02d:%02d:%02d",
                             "", s.year, s.month, s.day, s.hour, s.minute, s.second,
                             current.toUtf8().constData(), e.year, e.month, e.day, e.hour, e.minute,
                             e.second);
}

QString FormatCurrentFacts(const CurrentFrameFacts& facts) {
    const Broken t = BreakDown(facts.localTime);
    QString codec;
    for (int i = 0; i < 4; ++i) {
        const char c = char((facts.codec >> (8 * i)) & 0xFF);
        if (c > ' ' && c < 127) codec += QLatin1Char(c);
    }
    return QString::asprintf("    CAM %d %02d:%02d:%02d.%03u\n    %s %dx%d %s", facts.camera,
                             t.hour, t.minute, t.second, facts.milliseconds % 1000,
                             facts.key ? "Key" : "Pred", facts.width, facts.height,
                             codec.toLatin1().constData());
}

QString FormatClockText(int64_t localTime) {
    const Broken b = BreakDown(localTime);
    return QString::asprintf("\t%d-%02d-%02d %02d:%02d:%02d", b.year, b.month, b.day, b.hour,
                             b.minute, b.second);
}

QString FormatRecordedTime(int64_t localTime, uint32_t milliseconds) {
    const Broken t = BreakDown(localTime);
    return QString::asprintf("%d-%02d-%02d %02d:%02d:%02d.%03u", t.year, t.month, t.day, t.hour,
                             t.minute, t.second, milliseconds % 1000);
}

QString ProposedPictureName(int camera, int64_t localTime, uint32_t milliseconds) {
    const Broken t = BreakDown(localTime);
    return QString::asprintf("CH%02d_%d-%02d-%02d_%02d-%02d-%02d.%03u.png", camera, t.year, t.month,
                             t.day, t.hour, t.minute, t.second, milliseconds % 1000);
}

QString ProposedSnapshotName(int displayMode, int singleChannel) {
    if (displayMode != 1 || singleChannel < 0) return {};
    return QString::asprintf("CH%02d.jpg", singleChannel + 1);
}

} // namespace qm
