// Entry times: seconds since 1970-01-01 00:00:00 counted on the local wall
// clock of the machine that packed the file, as if that clock were UTC.
// Files reach and leave the archive as DOS dates and times (dos_time.h).
#ifndef TOLVEX_COMMONSU_ENTRY_TIME_H
#define TOLVEX_COMMONSU_ENTRY_TIME_H

#include <cstdint>

#include "commonsU/dos_time.h"

namespace tvx {

// The entry time of a file's wall-clock time: the even second at or below it
// (the 2-second steps of DOS times, which entry times have always had), and
// outside 1901-12-13 20:45:52 to 2038-01-19 03:14:06, which 32 bits hold, the
// nearer of the two. Never wrapped.
int32_t EntryTimeOfWallClock(int64_t wallClockSeconds);

// The DOS fields as an entry time (EntryTimeOfWallClock). Out-of-range fields
// (month 0, day 31 of February...) are carried over as a calendar would (day 0
// is the last day of the previous month).
int32_t DosTimeToEntryTime(uint32_t dosDateTime);

// The entry time's calendar date and time packed as a DOS date and time. Years
// before 1980 are not clamped: the year bits receive (year - 1980) modulo 128.
// Odd seconds become the even second below.
uint32_t EntryTimeToDosTime(int32_t entryTime);

// The DOS date and time nearest to the entry time, for hosts that read no
// other: EntryTimeToDosTime inside the DOS range, 1980-01-01 00:00:00 before it
// and 2107-12-31 23:59:58 after it.
uint32_t NearestDosTime(int64_t entryTime);

// Calendar fields of a wall-clock second count, and back.
CivilTime CivilFromSeconds(int64_t seconds);
int64_t SecondsFromCivil(int year, int month, int day, int hour, int minute, int second);

}  // namespace tvx

#endif
