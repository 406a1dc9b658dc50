#include "packer/WexlorTime.h"

namespace wcx {
namespace {

constexpr unsigned long long kTicksPerSecond = 10000000;
// 1980-01-01 and 2108-01-01 as file times: the dates MS-DOS can hold.
constexpr unsigned long long kDosFirst = 119600064000000000ULL;
constexpr unsigned long long kDosEnd = 159992928000000000ULL;
// Days from 0000-03-01 to 1980-01-01 in the proleptic Gregorian calendar.
constexpr unsigned kDaysBefore1980 = 723120;

unsigned long long ticks_of(const FILETIME& ATime) noexcept {
  return (static_cast<unsigned long long>(ATime.dwHighDateTime) << 32) | ATime.dwLowDateTime;
}

// The MS-DOS date of a day counted from 1980-01-01.
unsigned dos_date(unsigned ADay) noexcept {
  // Civil date from a day count, with years starting on 1 March so that the leap day comes last.
  const unsigned z = ADay + kDaysBefore1980;
  const unsigned era = z / 146097;
  const unsigned day_of_era = z - era * 146097;
  const unsigned year_of_era = (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const unsigned day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const unsigned shifted_month = (5 * day_of_year + 2) / 153;
  const unsigned day = day_of_year - (153 * shifted_month + 2) / 5 + 1;
  const unsigned month = shifted_month < 10 ? shifted_month + 3 : shifted_month - 9;
  const unsigned year = year_of_era + era * 400 + (month <= 2 ? 1 : 0);
  return ((year - 1980) << 9) | (month << 5) | day;
}

}  // namespace

local_time_shift local_time_shift::Current() noexcept {
  FILETIME utc, local;
  ::GetSystemTimeAsFileTime(&utc);
  if (!::FileTimeToLocalFileTime(&utc, &local)) return local_time_shift(0, false);
  return local_time_shift(static_cast<long long>(ticks_of(local) - ticks_of(utc)));
}

int local_time_shift::DosFileTime(const FILETIME& AUtc) const noexcept {
  const unsigned long long utc = ticks_of(AUtc);
  if (!FKnown || utc == 0) return 0;
  // Wraps as the system's own addition does.
  const unsigned long long local = utc + static_cast<unsigned long long>(FShift);
  if (local >= kDosFirst && local < kDosEnd) {
    // The 128 years of the range fit 32-bit seconds: one 64-bit division, the rest in 32 bits.
    const unsigned seconds = static_cast<unsigned>((local - kDosFirst) / kTicksPerSecond);
    const unsigned day = seconds / 86400, in_day = seconds % 86400;
    // Entries of one archive mostly share their days.
    if (day != FLastDay) {
      FLastDay = day;
      FLastDate = dos_date(day);
    }
    const unsigned time = ((in_day / 3600) << 11) | ((in_day / 60 % 60) << 5) | (in_day % 60 / 2);
    return static_cast<int>((FLastDate << 16) | time);
  }
  // Outside the range the system has the last word on what a date is.
  const FILETIME time{static_cast<DWORD>(local), static_cast<DWORD>(local >> 32)};
  WORD date = 0, clock = 0;
  if (!::FileTimeToDosDateTime(&time, &date, &clock)) return 0;
  return static_cast<int>((static_cast<DWORD>(date) << 16) | clock);
}

}  // namespace wcx
