#include "zip/zip_dos_time.h"

#include "platform/output_file.h"

int64_t DosDateTimeToUnix(uint16_t date, uint16_t time) {
  int second = 2 * (time & 0x1f);
  int minute = (time >> 5) & 0x3f;
  int hour = (time >> 11) & 0x1f;
  int day = date & 0x1f;
  int month = (date >> 5) & 0x0f;
  int year = 1980 + ((date >> 9) & 0x7f);
  return platform::LocalTimeToUnix(year, month, day, hour, minute, second);
}

DosDateTime MakeDosDateTime(int year, int month, int day, int hour, int minute, int second) {
  DosDateTime t;
  t.date = static_cast<uint16_t>(((year - 1980) << 9) | (month << 5) | day);
  t.time = static_cast<uint16_t>((hour << 11) | (minute << 5) | (second / 2));
  return t;
}
