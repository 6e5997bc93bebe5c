#pragma once
// Wall clock of the recording side (file names, date folders, the weekly
// schedule). The clock can be replaced, so behaviour around midnight and on
// given weekdays can be exercised at will.
#include <ctime>
#include <functional>
#include <string>

struct LocalTime {
  int year = 1970;
  int month = 1;    // 1..12
  int day = 1;      // 1..31
  int hour = 0;
  int minute = 0;
  int second = 0;
  int weekday = 4;  // Monday 1 ... Sunday 7
};

class RecordClock {
 public:
  // The local time now, from the system clock or from the installed source.
  static LocalTime Now();
  // Installs a replacement clock; an empty function restores the system's.
  static void SetSource(std::function<LocalTime()> source);
  // Local time of a calendar time (weekday filled in).
  static LocalTime FromTime(std::time_t t);
  // A normalised local time for the given fields (weekday filled in), so
  // callers can build "5 March 2015 23:59:59" and step it by seconds.
  static LocalTime Make(int year, int month, int day, int hour, int minute, int second);
  static LocalTime AddSeconds(const LocalTime& t, int seconds);
};

// "HH:MM:SS" of a local time, the form stored in startTime and endTime.
std::string FormatClockText(const LocalTime& t);
