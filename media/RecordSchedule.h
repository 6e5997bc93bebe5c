#pragma once
// The weekly recording schedule's window rule. The schedule itself runs on
// the live-channel manager's schedule thread (CLiveChannelManager).
#include <string>

#include "media/RecordClock.h"

// A scheduled task is inside its window when the day's digit occurs in
// daysOfWeek and startTime <= now <= endTime, compared as text. A window
// whose end lies before its start is therefore never entered.
bool InRecordWindow(const std::string& startTime, const std::string& endTime, const std::string& daysOfWeek,
                    const LocalTime& now);
