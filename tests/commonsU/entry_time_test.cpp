// Entry times and DOS dates: the conversions both ways, the dates before 1980
// that the format can hold, and the calendar arithmetic under them.
#include <gtest/gtest.h>

#include <cstdint>

#include "commonsU/entry_time.h"
#include "support/test_support.h"

namespace tvx {
namespace {

uint32_t Dos(int year, int month, int day, int hour, int minute, int second) {
  const uint32_t date = (static_cast<uint32_t>(year - 1980) << 9) | (static_cast<uint32_t>(month) << 5) |
                        static_cast<uint32_t>(day);
  const uint32_t time = (static_cast<uint32_t>(hour) << 11) | (static_cast<uint32_t>(minute) << 5) |
                        static_cast<uint32_t>(second / 2);
  return (date << 16) | time;
}

TEST(EntryTime, KnownDatesConvertBothWays) {
  struct Case {
    uint32_t dos;
    int32_t seconds;
  };
  const Case cases[] = {
      {0x32CF6000u, 1118836800},                      // 2005-06-15 12:00:00
      {Dos(1980, 1, 1, 0, 0, 0), 315532800},          // the first DOS date
      {Dos(2000, 2, 29, 23, 59, 58), 951868798},      // a leap day
      {Dos(2038, 1, 19, 3, 14, 6), 2147483646},       // the last even second of int32
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DosTimeToEntryTime(c.dos), c.seconds) << std::hex << c.dos;
    EXPECT_EQ(EntryTimeToDosTime(c.seconds), c.dos) << c.seconds;
  }
}

TEST(EntryTime, TimesBefore1980KeepTheYearModulo128ButHostsAreShownTheNearestDosTime) {
  EXPECT_EQ(EntryTimeToDosTime(0), 0xEC210000u);           // 1970-01-01, year bits 118
  EXPECT_EQ(EntryTimeToDosTime(-1), 0xEB9FBF7Du);          // 1969-12-31 23:59:59
  const uint32_t first = Dos(1980, 1, 1, 0, 0, 0);
  EXPECT_EQ(NearestDosTime(0), first);
  EXPECT_EQ(NearestDosTime(315532798), first);             // 1979-12-31 23:59:58
  EXPECT_EQ(NearestDosTime(INT32_MIN), first);
  EXPECT_EQ(NearestDosTime(315532800), first);
  EXPECT_EQ(NearestDosTime(1118836800), 0x32CF6000u);
  EXPECT_EQ(NearestDosTime(SecondsFromCivil(2200, 1, 1, 0, 0, 0)), Dos(2107, 12, 31, 23, 59, 58));
}

TEST(EntryTime, OddSecondsRoundDownToTheEvenSecond) {
  EXPECT_EQ(EntryTimeToDosTime(1118836801), 0x32CF6000u);
  EXPECT_EQ(EntryTimeToDosTime(1118836803), 0x32CF6001u);
  EXPECT_EQ(DosTimeToEntryTime(EntryTimeToDosTime(1118836859)), 1118836858);
}

TEST(EntryTime, EveryValidDosTimeSurvivesARoundTrip) {
  // Days 1..28 exist in every month; the hours, minutes and seconds step
  // through their ranges so that every field takes many values.
  int checked = 0;
  for (int year = 1980; year <= 2037; ++year) {
    for (int month = 1; month <= 12; ++month) {
      for (int day = 1; day <= 28; day += 3) {
        const int hour = (year + day) % 24;
        const int minute = (month * 7 + day) % 60;
        const int second = (day * 2 + year) % 30 * 2;
        const uint32_t dos = Dos(year, month, day, hour, minute, second);
        ASSERT_EQ(EntryTimeToDosTime(DosTimeToEntryTime(dos)), dos)
            << year << "-" << month << "-" << day << " " << hour << ":" << minute << ":" << second;
        ++checked;
      }
    }
  }
  EXPECT_GT(checked, 6000);
}

TEST(EntryTime, LastDaysOfMonthsSurviveARoundTrip) {
  const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  for (int year = 1980; year <= 2037; ++year) {
    for (int month = 1; month <= 12; ++month) {
      const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
      const int last = kDays[month - 1] + (month == 2 && leap ? 1 : 0);
      const uint32_t dos = Dos(year, month, last, 23, 59, 58);
      ASSERT_EQ(EntryTimeToDosTime(DosTimeToEntryTime(dos)), dos) << year << "-" << month;
      // The second after it is the first of the next month.
      const CivilTime next = CivilFromSeconds(DosTimeToEntryTime(dos) + 2);
      ASSERT_EQ(next.day, 1) << year << "-" << month;
    }
  }
}

TEST(EntryTime, OutOfRangeDosFieldsCarryLikeACalendar) {
  // Day 0 is the last day of the month before; month 0 is December before.
  EXPECT_EQ(DosTimeToEntryTime(Dos(2005, 3, 0, 0, 0, 0)), SecondsFromCivil(2005, 2, 28, 0, 0, 0));
  EXPECT_EQ(DosTimeToEntryTime(Dos(2005, 0, 15, 0, 0, 0)), SecondsFromCivil(2004, 12, 15, 0, 0, 0));
  EXPECT_EQ(DosTimeToEntryTime(Dos(2005, 2, 31, 0, 0, 0)), SecondsFromCivil(2005, 3, 3, 0, 0, 0));
  EXPECT_EQ(DosTimeToEntryTime(Dos(2005, 13, 1, 0, 0, 0)), SecondsFromCivil(2006, 1, 1, 0, 0, 0));
}

TEST(EntryTime, WallClockTimesBeyond32BitsBecomeTheNearestEndNeverWrapped) {
  struct Case {
    int64_t wallClock;
    int32_t entryTime;
  };
  const Case cases[] = {
      {SecondsFromCivil(1979, 12, 31, 23, 59, 58), 315532798},  // before DOS dates, as it is
      {-1, -2},                                                 // 1969: the even second below
      {SecondsFromCivil(1901, 12, 13, 20, 45, 52), INT32_MIN},
      {SecondsFromCivil(1800, 1, 1, 0, 0, 0), INT32_MIN},
      {SecondsFromCivil(2038, 1, 19, 3, 14, 7), 2147483646},
      {SecondsFromCivil(2039, 1, 1, 0, 0, 0), 2147483646},
      {SecondsFromCivil(2107, 12, 31, 23, 59, 58), 2147483646},
      {1118836801, 1118836800},
  };
  for (const Case& c : cases) EXPECT_EQ(EntryTimeOfWallClock(c.wallClock), c.entryTime) << c.wallClock;
  EXPECT_EQ(DosTimeToEntryTime(Dos(2040, 1, 1, 0, 0, 0)), 2147483646);
}

TEST(CivilTime, LeapDaysAgreeBothWays) {
  struct Case {
    int year, month, day;
  };
  for (const Case& c : {Case{2000, 2, 29}, Case{2000, 3, 1}, Case{2100, 3, 1}, Case{2004, 2, 29},
                        Case{1900, 3, 1}, Case{1970, 1, 1}, Case{1969, 12, 31}, Case{2400, 2, 29}}) {
    const int64_t seconds = SecondsFromCivil(c.year, c.month, c.day, 13, 14, 15);
    EXPECT_EQ(test::ClockText(CivilFromSeconds(seconds)), test::ClockText(c.year, c.month, c.day, 13, 14, 15));
  }
  // 2100 is not a leap year: February has 28 days, and 2000 (divisible by 400) is one.
  EXPECT_EQ(SecondsFromCivil(2100, 3, 1, 0, 0, 0) - SecondsFromCivil(2100, 2, 28, 0, 0, 0), 86400);
  EXPECT_EQ(SecondsFromCivil(2000, 3, 1, 0, 0, 0) - SecondsFromCivil(2000, 2, 28, 0, 0, 0), 2 * 86400);
  EXPECT_EQ(SecondsFromCivil(1970, 1, 1, 0, 0, 0), 0);
  EXPECT_EQ(SecondsFromCivil(1969, 12, 31, 23, 59, 59), -1);
}

TEST(CivilTime, NegativeSecondsBelongToThePreviousDay) {
  EXPECT_EQ(test::ClockText(CivilFromSeconds(-86400 - 1)), "1969-12-30 23:59:59");
}

}  // namespace
}  // namespace tvx
