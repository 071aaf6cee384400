// Entry times and DOS dates: the conversions both ways, the dates before 1980
// that the format can hold, and the calendar arithmetic under them.
#include <gtest/gtest.h>

#include <cstdint>
#include <tuple>
#include <utility>
#include <vector>

#include "commonsU/entry_time.h"
#include "support/test_support.h"

namespace tvx {
namespace {

uint32_t Dos(uint32_t year, uint32_t month, uint32_t day, uint32_t hour, uint32_t minute, uint32_t second) {
  return (year - 1980) << 25 | month << 21 | day << 16 | hour << 11 | minute << 5 | second / 2;
}

TEST(EntryTime, ConvertsToAndFromDosTimes) {
  // Both ways: 2005-06-15 12:00:00, the first DOS date, a leap day, the last even second of int32.
  const std::pair<int32_t, uint32_t> bothWays[] = {{1118836800, 0x32CF6000u}, {315532800, Dos(1980, 1, 1, 0, 0, 0)},
                                                   {951868798, Dos(2000, 2, 29, 23, 59, 58)},
                                                   {2147483646, Dos(2038, 1, 19, 3, 14, 6)}};
  for (const auto& [seconds, dos] : bothWays) {
    EXPECT_EQ(std::make_pair(DosTimeToEntryTime(dos), EntryTimeToDosTime(seconds)), std::make_pair(seconds, dos));
  }
  // Odd seconds round down to the even second; before 1980 the year is kept
  // modulo 128 (1970-01-01: year bits 118; then 1969-12-31 23:59:59).
  EXPECT_EQ((std::vector<uint32_t>{EntryTimeToDosTime(1118836801), EntryTimeToDosTime(1118836803),
                                   EntryTimeToDosTime(0), EntryTimeToDosTime(-1)}),
            (std::vector<uint32_t>{0x32CF6000u, 0x32CF6001u, 0xEC210000u, 0xEB9FBF7Du}));
  // Fields out of range carry like a calendar: day 0 is the last day of the month
  // before, month 0 December before; beyond 2038 is the last even second.
  EXPECT_EQ(DosTimeToEntryTime(Dos(2005, 3, 0, 0, 0, 0)), SecondsFromCivil(2005, 2, 28, 0, 0, 0));
  EXPECT_EQ(DosTimeToEntryTime(Dos(2005, 0, 15, 0, 0, 0)), SecondsFromCivil(2004, 12, 15, 0, 0, 0));
  EXPECT_EQ(DosTimeToEntryTime(Dos(2005, 2, 31, 0, 0, 0)), SecondsFromCivil(2005, 3, 3, 0, 0, 0));
  EXPECT_EQ(DosTimeToEntryTime(Dos(2005, 13, 1, 0, 0, 0)), SecondsFromCivil(2006, 1, 1, 0, 0, 0));
  EXPECT_EQ(DosTimeToEntryTime(Dos(2040, 1, 1, 0, 0, 0)), 2147483646);
  // Hosts reading DOS dates are shown the nearest one.
  const uint32_t first = Dos(1980, 1, 1, 0, 0, 0);  // 315532798 is 1979-12-31 23:59:58
  for (int64_t t : {0LL, 315532798LL, INT32_MIN + 0LL, 315532800LL}) EXPECT_EQ(NearestDosTime(t), first) << t;
  EXPECT_EQ(NearestDosTime(1118836800), 0x32CF6000u);
  EXPECT_EQ(NearestDosTime(SecondsFromCivil(2200, 1, 1, 0, 0, 0)), Dos(2107, 12, 31, 23, 59, 58));
}

TEST(EntryTime, EveryValidDosTimeSurvivesARoundTrip) {
  // Days 1..28 exist in every month, and each month's last day is tried too; the
  // hours, minutes and seconds step through their ranges so that every field
  // takes many values.
  const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const auto survives = [](uint32_t dos) { return EntryTimeToDosTime(DosTimeToEntryTime(dos)) == dos; };
  for (int year = 1980; year <= 2037; ++year) {
    for (int month = 1; month <= 12; ++month) {
      for (int day = 1; day <= 28; day += 3) {
        const int hour = (year + day) % 24, minute = (month * 7 + day) % 60, second = (day * 2 + year) % 30 * 2;
        ASSERT_TRUE(survives(Dos(year, month, day, hour, minute, second)))
            << year << "-" << month << "-" << day << " " << hour << ":" << minute << ":" << second;
      }
      const bool leapDay = month == 2 && year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
      const uint32_t last = Dos(year, month, kDays[month - 1] + (leapDay ? 1 : 0), 23, 59, 58);
      ASSERT_TRUE(survives(last)) << year << "-" << month;
      // The second after it is the first of the next month.
      ASSERT_EQ(CivilFromSeconds(DosTimeToEntryTime(last) + 2).day, 1) << year << "-" << month;
    }
  }
}

// Before DOS dates a time is kept; -1 becomes the even second below it.
TEST(EntryTime, WallClockTimesBeyond32BitsBecomeTheNearestEndNeverWrapped) {
  const std::pair<int64_t, int32_t> rows[] = {
      {SecondsFromCivil(1979, 12, 31, 23, 59, 58), 315532798}, {-1, -2}, {1118836801, 1118836800},
      {SecondsFromCivil(1901, 12, 13, 20, 45, 52), INT32_MIN}, {SecondsFromCivil(1800, 1, 1, 0, 0, 0), INT32_MIN},
      {SecondsFromCivil(2038, 1, 19, 3, 14, 7), 2147483646},   {SecondsFromCivil(2039, 1, 1, 0, 0, 0), 2147483646},
      {SecondsFromCivil(2107, 12, 31, 23, 59, 58), 2147483646},
  };
  for (const auto& [wallClock, entryTime] : rows) EXPECT_EQ(EntryTimeOfWallClock(wallClock), entryTime) << wallClock;
}

// Both ways against seconds counted elsewhere: 2000 and 2400 are leap years,
// 1900 and 2100 are not, and seconds before 1970 belong to the day before.
TEST(CivilTime, AgreesWithTheCalendarBothWays) {
  const std::tuple<int, int, int, int, int, int, int64_t> cases[] = {  // the civil time, the seconds
      {2000, 2, 28, 13, 14, 15, 951743655},  {2000, 2, 29, 13, 14, 15, 951830055},
      {2000, 3, 1, 13, 14, 15, 951916455},   {2100, 2, 28, 13, 14, 15, 4107503655},
      {2100, 3, 1, 13, 14, 15, 4107590055},  {2004, 2, 29, 13, 14, 15, 1078060455},
      {1900, 3, 1, 13, 14, 15, -2203843545}, {2400, 2, 29, 13, 14, 15, 13574610855},
      {1970, 1, 1, 0, 0, 0, 0},              {1969, 12, 31, 23, 59, 59, -1}, {1969, 12, 30, 23, 59, 59, -86401},
  };
  for (const auto& [year, month, day, hour, minute, second, seconds] : cases) {
    EXPECT_EQ(SecondsFromCivil(year, month, day, hour, minute, second), seconds);
    EXPECT_EQ(test::ClockText(CivilFromSeconds(seconds)), test::ClockText(year, month, day, hour, minute, second));
  }
}

}  // namespace
}  // namespace tvx
