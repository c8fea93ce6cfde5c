#include "app/timeline_text.h"

#include <ctime>
#include <limits>

namespace qm {

namespace {

struct Broken {
    int year = 0, month = 0, day = 0;
    int hour = -1, minute = -1, second = -1;
};

Broken BreakDownLocal(int64_t seconds) {
    Broken out;
    if (seconds < std::numeric_limits<time_t>::min() ||
        seconds > std::numeric_limits<time_t>::max())
        return out;
    const time_t t = static_cast<time_t>(seconds);
    std::tm tm{};
    if (!localtime_r(&t, &tm)) return out;
    out.year = tm.tm_year + 1900;
    out.month = tm.tm_mon + 1;
    out.day = tm.tm_mday;
    out.hour = tm.tm_hour;
    out.minute = tm.tm_min;
    out.second = tm.tm_sec;
    return out;
}

} // namespace

QString LocalDateTimeText(int64_t seconds) {
    const Broken b = BreakDownLocal(seconds);
    return QString::asprintf("%d-%02d-%02d %02d:%02d:%02d", b.year, b.month, b.day, b.hour,
                             b.minute, b.second);
}

QString LocalTimeOfDayText(int64_t seconds) {
    const Broken b = BreakDownLocal(seconds);
    return QString::asprintf("%02d:%02d:%02d", b.hour, b.minute, b.second);
}

QString GapNoticeText(int64_t askedLocal, int64_t shownLocal) {
    const Broken a = BreakDownLocal(askedLocal);
    const Broken b = BreakDownLocal(shownLocal);
    const bool sameDay = a.year == b.year && a.month == b.month && a.day == b.day;
    auto text = [sameDay](int64_t seconds) {
        return sameDay ? LocalTimeOfDayText(seconds) : LocalDateTimeText(seconds);
    };
    return QStringLiteral("No recording at %1; showing the next recorded moment %2")
        .arg(text(askedLocal), text(shownLocal));
}

QString PercentText(int64_t pos, int64_t min, int64_t max) {
    if (max == min) return QStringLiteral("0%");
    // Wide arithmetic: the slider takes any int64 range, so neither the
    // difference nor the product may overflow.
    const __int128 share =
        (static_cast<__int128>(pos) - min) * 100 / (static_cast<__int128>(max) - min);
    return QString::asprintf("%lld%%", static_cast<long long>(share));
}

} // namespace qm
