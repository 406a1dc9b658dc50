// The FileTime of the header records against the system's own conversion
// (FileTimeToLocalFileTime, then FileTimeToDosDateTime), in the zone this program runs in. CTest
// runs it under several TZ settings (see CMakeLists.txt) and names the expected bias in
// WEXLOR_TEST_BIAS, so that a zone that did not take effect fails instead of passing in UTC.
#include <gtest/gtest.h>

#include <cstdlib>
#include <set>

#include "archive_util.h"
#include "packer/WexlorTime.h"

using namespace wxt;

namespace {

constexpr unsigned long long kSecond = 10000000ULL;
constexpr unsigned long long kMinute = 60 * kSecond;
constexpr unsigned long long kHour = 60 * kMinute;

FILETIME filetime(unsigned long long ATicks) {
  return FILETIME{static_cast<DWORD>(ATicks), static_cast<DWORD>(ATicks >> 32)};
}

unsigned long long ticks(const FILETIME& ATime) {
  return (static_cast<unsigned long long>(ATime.dwHighDateTime) << 32) | ATime.dwLowDateTime;
}

unsigned long long utc(WORD AYear, WORD AMonth, WORD ADay, WORD AHour = 0, WORD AMinute = 0, WORD ASecond = 0) {
  SYSTEMTIME st{AYear, AMonth, 0, ADay, AHour, AMinute, ASecond, 0};
  FILETIME ft{};
  SystemTimeToFileTime(&st, &ft);
  return ticks(ft);
}

// What the module's FileTime must be: the system's two calls, 0 when either fails.
int system_dos_time(unsigned long long AUtc) {
  if (AUtc == 0) return 0;
  const FILETIME time = filetime(AUtc);
  FILETIME local;
  WORD date = 0, clock = 0;
  if (!FileTimeToLocalFileTime(&time, &local) || !FileTimeToDosDateTime(&local, &date, &clock)) return 0;
  return static_cast<int>((static_cast<DWORD>(date) << 16) | clock);
}

// The offset of the zone's rules at AUtc itself (not the one of today).
long long offset_at(unsigned long long AUtc) {
  const FILETIME time = filetime(AUtc);
  SYSTEMTIME st, local;
  FileTimeToSystemTime(&time, &st);
  SystemTimeToTzSpecificLocalTime(nullptr, &st, &local);
  FILETIME back;
  SystemTimeToFileTime(&local, &back);
  return static_cast<long long>(ticks(back) - AUtc);
}

// The moments in AYear where the zone's offset changes, found by halving the hour in which it does.
std::vector<unsigned long long> offset_changes(WORD AYear) {
  std::vector<unsigned long long> changes;
  const unsigned long long end = utc(AYear + 1, 1, 1);
  long long before = offset_at(utc(AYear, 1, 1));
  for (unsigned long long t = utc(AYear, 1, 1); t < end; t += kHour) {
    const long long after = offset_at(t + kHour);
    if (after == before) continue;
    before = after;
    unsigned long long low = t, high = t + kHour;
    while (high - low > kSecond) {
      const unsigned long long middle = low + (high - low) / 2 / kSecond * kSecond;
      (offset_at(middle) == offset_at(low) ? low : high) = middle;
    }
    changes.push_back(high);
  }
  return changes;
}

// Times on both sides of every change of the zone's offset, the edges of the MS-DOS range as
// seen from this zone, leap days, and times no date can hold.
std::vector<unsigned long long> table_of_times() {
  const long long shift = wcx::local_time_shift::Current().Shift();
  const unsigned long long dos_first = utc(1980, 1, 1) - shift, dos_end = utc(2108, 1, 1) - shift;
  std::vector<unsigned long long> times = {
      1, kSecond, dos_first - 1, dos_first, dos_first + kSecond - 1, dos_first + 2 * kSecond, dos_end - kSecond,
      dos_end - 1, dos_end, dos_end + kHour, utc(2000, 2, 29, 12), utc(2024, 2, 29, 23, 59, 59),
      utc(2100, 2, 28, 23, 59, 59), utc(2100, 3, 1), utc(2021, 6, 15, 13, 45, 31) + kSecond - 1,
      utc(1979, 12, 31, 23, 59, 59), utc(1980, 1, 1), utc(2107, 12, 31, 23, 59, 59), utc(2108, 1, 1),
      0x7FFFFFFFFFFFFFFFULL, 0x8000000000000000ULL, 0xFFFFFFFFFFFFFFFFULL, 0xFFFFFFFFFFFFFFFFULL - kHour,
  };
  for (WORD year : {1980, 1996, 2007, 2021, 2026, 2037, 2107}) {
    for (unsigned long long change : offset_changes(year)) {
      for (unsigned long long around : {kSecond, kMinute, 30 * kMinute, kHour, 2 * kHour})
        times.insert(times.end(), {change - around, change + around});
      times.insert(times.end(), {change - 1, change});
    }
  }
  return times;
}

}  // namespace

TEST(LocalTime, RunsInTheZoneItWasGiven) {
  const char* expected = std::getenv("WEXLOR_TEST_BIAS");
  ASSERT_NE(expected, nullptr) << "run through CTest, which sets TZ and WEXLOR_TEST_BIAS";
  TIME_ZONE_INFORMATION zone{};
  GetTimeZoneInformation(&zone);
  EXPECT_EQ(zone.Bias, std::atol(expected));
}

// FileTimeToLocalFileTime applies the bias in force now, whatever the date converted.
TEST(LocalTime, ShiftIsTheBiasInForceNow) {
  TIME_ZONE_INFORMATION zone{};
  const DWORD state = GetTimeZoneInformation(&zone);
  const long bias = zone.Bias + (state == TIME_ZONE_ID_DAYLIGHT ? zone.DaylightBias : zone.StandardBias);
  EXPECT_EQ(wcx::local_time_shift::Current().Shift(), -static_cast<long long>(bias) * static_cast<long long>(kMinute));
}

TEST(LocalTime, TableAndSweepMatchTheSystemConversion) {
  const wcx::local_time_shift shift = wcx::local_time_shift::Current();
  const std::vector<unsigned long long> table = table_of_times();
  // Both sides of two changes a year in each of the seven years, at least.
  ASSERT_GE(table.size(), 23u + 7 * 2 * 12) << "the zone has no daylight saving";
  bool date_bias_differs = false;
  for (unsigned long long t : table) {
    SCOPED_TRACE(t);
    EXPECT_EQ(shift.DosFileTime(filetime(t)), system_dos_time(t));
    if (t > utc(1980, 1, 2) && t < utc(2107, 1, 1)) date_bias_differs |= offset_at(t) != shift.Shift();
  }
  // On one side of each change the date's own bias differs from the one applied.
  EXPECT_TRUE(date_bias_differs);
  // Every 23719 seconds and a fraction, from 1975 to 2112: every time of day, every day of the month.
  int mismatches = 0;
  for (unsigned long long t = utc(1975, 1, 1) + 1234567; t < utc(2112, 1, 1); t += 23719 * kSecond + 4321) {
    if (shift.DosFileTime(filetime(t)) != system_dos_time(t) && ++mismatches <= 5) ADD_FAILURE() << "time " << t;
  }
  EXPECT_EQ(mismatches, 0);
  EXPECT_EQ(shift.DosFileTime(filetime(0)), 0);
}

// Through the module: entries timed on both sides of this zone's changes of 2021 arrive with the
// system's local time in all three header records.
TEST(LocalTime, HeadersCarryTheSystemLocalTime) {
  std::vector<unsigned long long> times;
  for (unsigned long long change : offset_changes(2021))
    times.insert(times.end(), {change - kSecond, change, change + kHour - 1});
  ASSERT_EQ(times.size(), 6u);
  times.insert(times.end(), {utc(1980, 1, 1) - wcx::local_time_shift::Current().Shift(), utc(1979, 12, 31, 12),
                             utc(2107, 12, 31, 12)});
  std::string script = "WXFIX\n";
  for (size_t i = 0; i < times.size(); ++i)
    script += "file f" + std::to_string(i) + " size=1 time=" + std::to_string(times[i]) + "\n";
  FileManager fm({{L"Fix", L"fixture_full.dll"}});
  const std::wstring archive = fm.WriteArchive(L"times.fix", script);
  std::set<int> distinct;
  for (int shape = 0; shape < 3; ++shape) {
    SCOPED_TRACE(shape);
    HANDLE h = open_archive(fm, archive, wcx::PK_OM_LIST);
    ASSERT_NE(h, nullptr);
    for (unsigned long long t : times) {
      SCOPED_TRACE(t);
      int got = -1;
      if (shape == 0) {
        auto header = std::make_unique<wcx::tHeaderDataExW>();
        ASSERT_EQ(fm.ReadHeaderExW(h, header.get()), 0);
        got = header->FileTime;
      } else if (shape == 1) {
        auto header = std::make_unique<wcx::tHeaderDataEx>();
        ASSERT_EQ(fm.ReadHeaderEx(h, header.get()), 0);
        got = header->FileTime;
      } else {
        wcx::tHeaderData header{};
        ASSERT_EQ(fm.ReadHeader(h, &header), 0);
        got = header.FileTime;
      }
      EXPECT_EQ(got, system_dos_time(t));
      distinct.insert(got);
      EXPECT_EQ(fm.ProcessFileW(h, wcx::PK_SKIP, nullptr, nullptr), 0);
    }
    EXPECT_EQ(fm.CloseArchive(h), 0);
  }
  // The one before 1980 has no MS-DOS date; the others are all different.
  EXPECT_EQ(system_dos_time(utc(1979, 12, 31, 12)), 0);
  EXPECT_EQ(distinct.size(), times.size());
}
