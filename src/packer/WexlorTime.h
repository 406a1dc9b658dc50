// The FileTime field of the header records: a UTC file time in local time, packed as MS-DOS date
// and time.
#pragma once

#include <windows.h>

namespace wcx {

// FileTimeToLocalFileTime applies the zone's bias of the moment of the call to every date, so a
// shift read once serves a whole listing and each entry is converted by arithmetic. Like the
// archive it belongs to, one object is used by one thread at a time.
class local_time_shift {
 public:
  // The shift the system applies now; when the system cannot tell, every time converts to 0, as
  // a failing FileTimeToLocalFileTime would give.
  static local_time_shift Current() noexcept;
  // Local minus UTC, in 100 ns units.
  explicit constexpr local_time_shift(long long AShift, bool AKnown = true) noexcept
      : FShift(AShift), FKnown(AKnown) {}

  long long Shift() const noexcept { return FShift; }
  // Date in the high word, time in the low word, as FileTimeToDosDateTime gives them; 0 for a zero
  // time and for a date MS-DOS cannot hold.
  int DosFileTime(const FILETIME& AUtc) const noexcept;

 private:
  long long FShift;
  bool FKnown;
  // The last day converted and its MS-DOS date.
  mutable unsigned FLastDay = ~0u;
  mutable unsigned FLastDate = 0;
};

}  // namespace wcx
