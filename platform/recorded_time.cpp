#include "platform/recorded_time.h"

#include <charconv>
#include <cstdio>
#include <ctime>

namespace qm {

namespace {

constexpr int64_t kLatestSecond = int64_t(UINT32_MAX);

int64_t FloorDiv(int64_t a, int64_t b) {
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

// Reads "DIGITS[.DIGITS]" whole; the fraction becomes milliseconds (up to 3 digits).
std::optional<int64_t> ReadSecondsWithMs(std::string_view text, bool& hasMs) {
    const auto dot = text.find('.');
    const std::string_view whole = text.substr(0, dot);
    int64_t seconds = 0;
    if (whole.empty() || whole.size() > 12) return std::nullopt;
    auto [p, ec] = std::from_chars(whole.data(), whole.data() + whole.size(), seconds);
    if (ec != std::errc() || p != whole.data() + whole.size()) return std::nullopt;
    int64_t ms = 0;
    hasMs = dot != std::string_view::npos;
    if (hasMs) {
        const std::string_view fraction = text.substr(dot + 1);
        if (fraction.empty() || fraction.size() > 3) return std::nullopt;
        for (size_t i = 0; i < 3; ++i) {
            const char c = i < fraction.size() ? fraction[i] : '0';
            if (c < '0' || c > '9') return std::nullopt;
            ms = ms * 10 + (c - '0');
        }
    }
    return seconds * 1000 + ms;
}

} // namespace

std::string FormatClock(const ClockView& view, StoredMs t, bool withMs) {
    const int64_t shown = view.utc ? t : t + int64_t(view.offsetSeconds) * 1000;
    const int64_t seconds = FloorDiv(shown, 1000);
    const int ms = int(shown - seconds * 1000);
    const time_t tt = time_t(seconds);
    std::tm tm{};
    if (int64_t(tt) != seconds || !(view.utc ? gmtime_r(&tt, &tm) : localtime_r(&tt, &tm)))
        return "?";
    char text[48];
    if (withMs)
        std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", tm.tm_year + 1900,
                      tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, ms);
    else
        std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", tm.tm_year + 1900,
                      tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return text;
}

std::optional<ClockArgument> ParseClockArgument(std::string_view text) {
    ClockArgument argument;
    if (text.empty()) return std::nullopt;
    if (text.front() == '+') {
        const auto ms = ReadSecondsWithMs(text.substr(1), argument.hasMs);
        if (!ms) return std::nullopt;
        argument.kind = ClockArgument::Kind::kFromStart;
        argument.ms = *ms;
        return argument;
    }
    if (text.find_first_not_of("0123456789.") == std::string_view::npos) {
        const auto ms = ReadSecondsWithMs(text, argument.hasMs);
        if (!ms || *ms > kLatestSecond * 1000 + 999) return std::nullopt;
        argument.kind = ClockArgument::Kind::kEpoch;
        argument.ms = *ms;
        return argument;
    }

    argument.kind = ClockArgument::Kind::kCalendar;
    if (text.back() == 'Z') {
        argument.kind = ClockArgument::Kind::kCalendarUtc;
        text.remove_suffix(1);
    }
    // YYYY-MM-DD HH:MM:SS, the date also with '/', the middle also 'T'.
    if (text.size() < 19) return std::nullopt;
    const std::string_view fields = text.substr(0, 19);
    for (size_t i = 0; i < fields.size(); ++i) {
        const char c = fields[i];
        const bool ok = (i == 4 || i == 7)     ? (c == '-' || c == '/')
                        : (i == 10)            ? (c == ' ' || c == 'T')
                        : (i == 13 || i == 16) ? c == ':'
                                               : (c >= '0' && c <= '9');
        if (!ok) return std::nullopt;
    }
    if (fields[4] != fields[7]) return std::nullopt;
    auto number = [&](size_t at, size_t n) {
        int v = 0;
        for (size_t i = 0; i < n; ++i)
            v = v * 10 + (fields[at + i] - '0');
        return v;
    };
    const int year = number(0, 4), month = number(5, 2), day = number(8, 2);
    const int hour = number(11, 2), minute = number(14, 2), second = number(17, 2);
    int ms = 0;
    const std::string_view rest = text.substr(19);
    if (!rest.empty()) {
        if (rest.front() != '.') return std::nullopt;
        bool hasMs = false;
        const auto fraction = ReadSecondsWithMs("0" + std::string(rest), hasMs);
        if (!fraction) return std::nullopt;
        ms = int(*fraction);
        argument.hasMs = true;
    }
    if (year < 1970 || month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 ||
        second > 59)
        return std::nullopt;
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    const time_t t = timegm(&tm);
    // timegm normalises 31 February to March: such a date does not exist.
    if (t == time_t(-1) || tm.tm_mday != day || tm.tm_mon != month - 1) return std::nullopt;
    argument.ms = int64_t(t) * 1000 + ms;
    return argument;
}

std::optional<StoredMs> ResolveClock(const ClockArgument& argument, const ClockView& view,
                                     StoredMs start) {
    StoredMs stored = 0;
    switch (argument.kind) {
    case ClockArgument::Kind::kEpoch:
        stored = argument.ms;
        break;
    case ClockArgument::Kind::kFromStart:
        stored = start + argument.ms;
        break;
    case ClockArgument::Kind::kCalendarUtc:
        stored = argument.ms;
        break;
    case ClockArgument::Kind::kCalendar: {
        if (view.utc) {
            stored = argument.ms;
            break;
        }
        // The fields are the player's clock: local time, offset included.
        const int64_t seconds = FloorDiv(argument.ms, 1000);
        const time_t fieldsAsUtc = time_t(seconds);
        std::tm tm{};
        if (!gmtime_r(&fieldsAsUtc, &tm)) return std::nullopt;
        const int wantedHour = tm.tm_hour, wantedMinute = tm.tm_min;
        tm.tm_isdst = -1;
        const time_t local = mktime(&tm);
        // A wall time skipped by a daylight-saving change has no moment.
        if (local == time_t(-1) || tm.tm_hour != wantedHour || tm.tm_min != wantedMinute)
            return std::nullopt;
        stored = (int64_t(local) - view.offsetSeconds) * 1000 + (argument.ms - seconds * 1000);
        break;
    }
    }
    if (stored < 0 || stored > kLatestSecond * 1000 + 999) return std::nullopt;
    return stored;
}

} // namespace qm
