#include "commonsU/entry_time.h"

#include <cstdint>

namespace tvx {
namespace {

constexpr int64_t kSecondsPerDay = 86400;

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's algorithm);
// months outside 1..12 are folded into the year first.
int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
  y += (m - 1) >= 0 ? (m - 1) / 12 : -((12 - m) / 12);
  m = ((m - 1) % 12 + 12) % 12 + 1;
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

}  // namespace

int64_t SecondsFromCivil(int year, int month, int day, int hour, int minute, int second) {
  return DaysFromCivil(year, month, day) * kSecondsPerDay + hour * 3600 + minute * 60 + second;
}

CivilTime CivilFromSeconds(int64_t seconds) {
  int64_t days = seconds / kSecondsPerDay;
  int64_t rest = seconds % kSecondsPerDay;
  if (rest < 0) {
    rest += kSecondsPerDay;
    --days;
  }
  const int64_t z = days + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int64_t d = doy - (153 * mp + 2) / 5 + 1;
  const int64_t m = mp + (mp < 10 ? 3 : -9);
  const int64_t y = yoe + era * 400 + (m <= 2);
  return CivilTime{static_cast<int>(y), static_cast<int>(m), static_cast<int>(d),
                   static_cast<int>(rest / 3600), static_cast<int>(rest / 60 % 60),
                   static_cast<int>(rest % 60)};
}

int32_t EntryTimeOfWallClock(int64_t seconds) {
  constexpr int64_t kFirst = INT32_MIN;
  constexpr int64_t kLast = INT32_MAX - 1;  // even
  if (seconds <= kFirst) return INT32_MIN;
  if (seconds >= kLast) return static_cast<int32_t>(kLast);
  return static_cast<int32_t>(seconds - (seconds % 2 + 2) % 2);
}

int32_t DosTimeToEntryTime(uint32_t dos) {
  const CivilTime t = UnpackDosTime(dos);
  return EntryTimeOfWallClock(SecondsFromCivil(t.year, t.month, t.day, t.hour, t.minute, t.second));
}

uint32_t EntryTimeToDosTime(int32_t entryTime) { return PackDosTime(CivilFromSeconds(entryTime)); }

uint32_t NearestDosTime(int64_t entryTime) {
  constexpr int64_t kFirst = 315532800;   // 1980-01-01 00:00:00
  constexpr int64_t kLast = 4354819198;   // 2107-12-31 23:59:58
  if (entryTime < kFirst) return PackDosTime(CivilTime{1980, 1, 1, 0, 0, 0});
  if (entryTime > kLast) return PackDosTime(CivilTime{2107, 12, 31, 23, 59, 58});
  return PackDosTime(CivilFromSeconds(entryTime));
}

}  // namespace tvx
