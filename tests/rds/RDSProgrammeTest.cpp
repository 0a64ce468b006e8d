#include <gtest/gtest.h>

#include "rds/RDSProgramme.h"
#include "rds/RDSProgrammeState.h"

namespace {

// Blocks B, C, D of a 4A group for a date (as MJD) and time.
struct ClockBlocks {
    std::uint16_t b, c, d;
};
ClockBlocks clockBlocks(int mjd, int hour, int minute, int offsetHalfHours) {
    const int sign = offsetHalfHours < 0 ? 1 : 0;
    return {static_cast<std::uint16_t>((4 << 12) | (mjd >> 15)),
            static_cast<std::uint16_t>(((mjd & 0x7FFF) << 1) | (hour >> 4)),
            static_cast<std::uint16_t>(((hour & 0xF) << 12) | (minute << 6) | (sign << 5) |
                                       std::abs(offsetHalfHours))};
}

TEST(RDSClockTimeTest, DecodesTheDateAndRejectsImpossibleValues) {
    // MJD values counted from 1858-11-17 with a calendar library; year 0 marks a rejection.
    struct Case {
        int mjd, hour, minute, offset, year, month, day;
    };
    const Case cases[] = {
        {58366, 13, 7, 2, 2018, 9, 5},    {58484, 0, 0, -3, 2019, 1, 1},
        {51603, 23, 59, 24, 2000, 2, 29}, {60675, 1, 2, 0, 2024, 12, 31},
        {15079, 1, 2, 0, 1900, 3, 1},     {88127, 1, 2, 0, 2100, 2, 28},
        {58366, 24, 0, 0, 0, 0, 0},       {58366, 10, 60, 0, 0, 0, 0},
        {58366, 10, 0, 25, 0, 0, 0},      {0, 0, 0, 0, 0, 0, 0},  // no clock at the station
        {88128, 0, 0, 0, 0, 0, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mjd);
        const ClockBlocks blocks = clockBlocks(c.mjd, c.hour, c.minute, c.offset);
        const auto time = RDSProgrammeState::decodeClockTime(blocks.b, blocks.c, blocks.d);
        if (c.year == 0) {
            EXPECT_FALSE(time);
            continue;
        }
        ASSERT_TRUE(time);
        EXPECT_EQ(*time, (RDSClockTime{.year = c.year,
                                       .month = c.month,
                                       .day = c.day,
                                       .hourUTC = c.hour,
                                       .minuteUTC = c.minute,
                                       .localOffsetHalfHours = c.offset}));
    }
}

TEST(RDSClockTimeTest, LocalTimeCrossesMidnightMonthAndYearBothWays) {
    struct Case {
        RDSClockTime utc;
        const char* local;
    };
    const Case cases[] = {
        {{2018, 9, 5, 12, 17, 6}, "2018-09-05T15:17:00+03:00"},
        {{2018, 9, 5, 22, 45, 4}, "2018-09-06T00:45:00+02:00"},    // past midnight
        {{2018, 12, 31, 23, 30, 1}, "2019-01-01T00:00:00+00:30"},  // past the year end
        {{2019, 1, 1, 3, 0, -11}, "2018-12-31T21:30:00-05:30"},    // back over the year end
        {{2020, 3, 1, 1, 0, -4}, "2020-02-29T23:00:00-02:00"},     // back into a leap day
        {{2021, 3, 1, 0, 0, -1}, "2021-02-28T23:30:00-00:30"},
        {{2018, 9, 5, 0, 0, 0}, "2018-09-05T00:00:00+00:00"},
        {{2018, 1, 31, 23, 59, 24}, "2018-02-01T11:59:00+12:00"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.local);
        EXPECT_EQ(c.utc.localISO8601(), c.local);
    }
}

}  // namespace
