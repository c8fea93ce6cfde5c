// The time model: what is shown, and that what is shown reads back as the
// same stored moment, on the player's clock and in UTC.

#include "platform/recorded_time.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

namespace qm {
namespace {

// Two hours east of UTC, no daylight saving, for the life of the object.
class Zone {
public:
    explicit Zone(const char* tz) {
        setenv("TZ", tz, 1);
        tzset();
    }
    ~Zone() {
        unsetenv("TZ");
        tzset();
    }
};

constexpr StoredMs kT = 1700000000LL * 1000 + 40; // 2023-11-14 22:13:20.040 UTC

TEST(RecordedTime, ThePlayersClockIsLocalTimePlusTheOffsetAndReadsBack) {
    const Zone zone("UTC-2");
    const ClockView player{7200, false};
    const ClockView utc{7200, true};
    EXPECT_EQ(FormatClock(player, kT), "2023-11-15 02:13:20.040");
    EXPECT_EQ(FormatClock(player, kT, false), "2023-11-15 02:13:20");
    EXPECT_EQ(FormatClock(utc, kT), "2023-11-14 22:13:20.040");

    // Whatever the tool prints, it reads back as the same stored moment.
    for (const ClockView& view : {player, utc}) {
        const auto printed = ParseClockArgument(FormatClock(view, kT));
        ASSERT_TRUE(printed);
        EXPECT_EQ(ResolveClock(*printed, view, 0), kT);
    }
    const struct {
        const char* text;
        StoredMs stored;
    } forms[] = {
        {"2023-11-15T02:13:20.040", kT},       // ISO, on the player's clock
        {"2023/11/15 02:13:20", kT - 40},      // as the player's dialogs write it
        {"2023-11-14T22:13:20.5Z", kT + 460},  // UTC whatever the view
        {"1700000000.04", kT},                 // epoch seconds are stored values
        {"+1.25", 1700000000LL * 1000 + 1250}, // from the start
    };
    for (const auto& form : forms) {
        const auto argument = ParseClockArgument(form.text);
        ASSERT_TRUE(argument) << form.text;
        EXPECT_EQ(ResolveClock(*argument, player, 1700000000LL * 1000), form.stored) << form.text;
    }
    for (const char* bad : {"", "yesterday", "2023-11-31 10:00:00", "2023-11-14 24:00:00",
                            "2023-11-14 10:00", "2023-11-14-10:00:00", "12.3456", "+", "-5",
                            "2023-11-14 10:00:00.1234", "2023/11-14 10:00:00"})
        EXPECT_FALSE(ParseClockArgument(bad)) << bad;
}

TEST(RecordedTime, AWallTimeSkippedByDaylightSavingHasNoMoment) {
    // Central Europe in 2023: 02:00 to 03:00 on 26 March did not happen.
    const Zone zone("CET-1CEST,M3.5.0,M10.5.0/3");
    const auto skipped = ParseClockArgument("2023-03-26 02:30:00");
    ASSERT_TRUE(skipped);
    EXPECT_FALSE(ResolveClock(*skipped, ClockView{}, 0));
    const auto summer = ParseClockArgument("2023-07-01 12:00:00");
    ASSERT_TRUE(summer);
    EXPECT_EQ(ResolveClock(*summer, ClockView{}, 0), StoredMs(1688205600) * 1000); // 10:00 UTC
}

} // namespace
} // namespace qm
