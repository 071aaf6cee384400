// DOS dates and times (date in the high 16 bits: year-1980 in 7 bits, month,
// day; time: hour, minute, seconds / 2) as calendar fields and back.
// Header-only and free of dependencies, so that the platform layer, which
// reads file times, and the command-line host, which does not link the core,
// pack and unpack them the same way.
#ifndef TOLVEX_COMMONSU_DOS_TIME_H
#define TOLVEX_COMMONSU_DOS_TIME_H

#include <cstdint>

namespace tvx {

// Calendar fields of a wall-clock time (proleptic Gregorian).
struct CivilTime {
  int year;
  int month;   // 1..12
  int day;     // 1..31
  int hour;
  int minute;
  int second;
};

// The DOS date and time's fields as they stand, unchecked (second doubled).
inline CivilTime UnpackDosTime(uint32_t dos) {
  return CivilTime{1980 + static_cast<int>(dos >> 25), static_cast<int>((dos >> 21) & 15),
                   static_cast<int>((dos >> 16) & 31), static_cast<int>((dos >> 11) & 31),
                   static_cast<int>((dos >> 5) & 63), static_cast<int>(dos & 31) * 2};
}

// The fields packed; the year bits receive (year - 1980) modulo 128, and an
// odd second becomes the even second below.
inline uint32_t PackDosTime(const CivilTime& t) {
  const uint32_t yearBits = static_cast<uint32_t>(t.year - 1980) << 25;
  return yearBits | (static_cast<uint32_t>(t.month) << 21) | (static_cast<uint32_t>(t.day) << 16) |
         (static_cast<uint32_t>(t.hour) << 11) | (static_cast<uint32_t>(t.minute) << 5) |
         (static_cast<uint32_t>(t.second) >> 1);
}

}  // namespace tvx

#endif
