// MS-DOS dates and times as ZIP entries carry them (local time, two-second
// steps, years 1980-2107).
#pragma once

#include <cstdint>

struct DosDateTime {
  uint16_t date = 0;
  uint16_t time = 0;
};

// Seconds since the epoch of an entry's local date and time.
int64_t DosDateTimeToUnix(uint16_t date, uint16_t time);

// The DOS form of a local calendar time (month 1-12); seconds are rounded
// down to even.
DosDateTime MakeDosDateTime(int year, int month, int day, int hour, int minute, int second);
