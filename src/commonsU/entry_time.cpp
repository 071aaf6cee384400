#include "commonsU/entry_time.h"

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

int32_t DosTimeToEntryTime(uint32_t dos) {
  const CivilTime t = UnpackDosTime(dos);
  const int64_t seconds = SecondsFromCivil(t.year, t.month, t.day, t.hour, t.minute, t.second);
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(seconds)));
}

uint32_t EntryTimeToDosTime(int32_t entryTime) { return PackDosTime(CivilFromSeconds(entryTime)); }

}  // namespace tvx
