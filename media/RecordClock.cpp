#include "media/RecordClock.h"

#include <pthread.h>

#include <cstdio>
#include <memory>

namespace {

pthread_mutex_t clockMutex = PTHREAD_MUTEX_INITIALIZER;
std::shared_ptr<std::function<LocalTime()>> clockSource;

LocalTime FromTm(const std::tm& tm) {
  LocalTime t;
  t.year = tm.tm_year + 1900;
  t.month = tm.tm_mon + 1;
  t.day = tm.tm_mday;
  t.hour = tm.tm_hour;
  t.minute = tm.tm_min;
  t.second = tm.tm_sec;
  t.weekday = tm.tm_wday == 0 ? 7 : tm.tm_wday;
  return t;
}

}  // namespace

LocalTime RecordClock::FromTime(std::time_t t) {
  std::tm tm{};
  localtime_r(&t, &tm);
  return FromTm(tm);
}

LocalTime RecordClock::Make(int year, int month, int day, int hour, int minute, int second) {
  // Calendar arithmetic in UTC, so steps never meet a daylight-saving gap.
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  std::time_t t = timegm(&tm);
  std::tm out{};
  gmtime_r(&t, &out);
  return FromTm(out);
}

LocalTime RecordClock::AddSeconds(const LocalTime& t, int seconds) {
  return Make(t.year, t.month, t.day, t.hour, t.minute, t.second + seconds);
}

LocalTime RecordClock::Now() {
  pthread_mutex_lock(&clockMutex);
  std::shared_ptr<std::function<LocalTime()>> source = clockSource;
  pthread_mutex_unlock(&clockMutex);
  if (source) return (*source)();
  return FromTime(std::time(nullptr));
}

void RecordClock::SetSource(std::function<LocalTime()> source) {
  std::shared_ptr<std::function<LocalTime()>> next;
  if (source) next = std::make_shared<std::function<LocalTime()>>(std::move(source));
  pthread_mutex_lock(&clockMutex);
  clockSource.swap(next);
  pthread_mutex_unlock(&clockMutex);
}

std::string FormatClockText(const LocalTime& t) {
  char text[16];
  snprintf(text, sizeof(text), "%02d:%02d:%02d", t.hour, t.minute, t.second);
  return text;
}

