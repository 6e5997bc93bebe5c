#include "media/RecordSchedule.h"

bool InRecordWindow(const std::string& startTime, const std::string& endTime, const std::string& daysOfWeek,
                    const LocalTime& now) {
  std::string clock = FormatClockText(now);
  std::string day = std::to_string(now.weekday);
  return startTime <= clock && clock <= endTime && daysOfWeek.find(day) != std::string::npos;
}
