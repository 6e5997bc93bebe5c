// The weekly recording window and the settable clock behind it.
#include <gtest/gtest.h>

#include "media/RecordSchedule.h"

TEST(RecordClockTest, MakeNormalisesAndNamesTheWeekday) {
  struct Case {
    LocalTime t;
    int year, month, day, hour, minute, second, weekday;
  } cases[] = {
      {RecordClock::Make(2015, 3, 2, 8, 0, 0), 2015, 3, 2, 8, 0, 0, 1},          // a Monday
      {RecordClock::Make(2015, 3, 8, 12, 0, 0), 2015, 3, 8, 12, 0, 0, 7},        // a Sunday
      {RecordClock::Make(2015, 2, 28, 23, 59, 60), 2015, 3, 1, 0, 0, 0, 7},      // past midnight into March
      {RecordClock::AddSeconds(RecordClock::Make(2015, 12, 31, 23, 59, 59), 1), 2016, 1, 1, 0, 0, 0, 5},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.t.year, c.year);
    EXPECT_EQ(c.t.month, c.month);
    EXPECT_EQ(c.t.day, c.day);
    EXPECT_EQ(c.t.hour, c.hour);
    EXPECT_EQ(c.t.minute, c.minute);
    EXPECT_EQ(c.t.second, c.second);
    EXPECT_EQ(c.t.weekday, c.weekday);
  }
}

TEST(RecordClockTest, ReplacedClockIsUsedUntilReset) {
  LocalTime fixed = RecordClock::Make(2015, 3, 5, 23, 59, 59);
  RecordClock::SetSource([fixed] { return fixed; });
  EXPECT_EQ(FormatClockText(RecordClock::Now()), "23:59:59");
  EXPECT_EQ(RecordClock::Now().day, 5);
  RecordClock::SetSource(nullptr);
  EXPECT_GE(RecordClock::Now().year, 2024);
}

TEST(RecordWindow, WindowsAndDayLists) {
  struct Case {
    const char* start;
    const char* end;
    const char* days;
    LocalTime now;
    bool inside;
  } cases[] = {
      // 08:00:00 to 09:30:00 on Monday, Wednesday and Friday.
      {"08:00:00", "09:30:00", "135", RecordClock::Make(2015, 3, 2, 8, 0, 0), true},
      {"08:00:00", "09:30:00", "135", RecordClock::Make(2015, 3, 2, 7, 59, 59), false},
      {"08:00:00", "09:30:00", "135", RecordClock::Make(2015, 3, 2, 9, 30, 0), true},
      {"08:00:00", "09:30:00", "135", RecordClock::Make(2015, 3, 2, 9, 30, 1), false},
      {"08:00:00", "09:30:00", "135", RecordClock::Make(2015, 3, 4, 8, 30, 0), true},
      {"08:00:00", "09:30:00", "135", RecordClock::Make(2015, 3, 6, 8, 30, 0), true},
      {"08:00:00", "09:30:00", "135", RecordClock::Make(2015, 3, 3, 8, 30, 0), false},
      {"08:00:00", "09:30:00", "135", RecordClock::Make(2015, 3, 8, 8, 30, 0), false},
      // Across midnight the window is never entered.
      {"22:00:00", "02:00:00", "1234567", RecordClock::Make(2015, 3, 2, 23, 0, 0), false},
      {"22:00:00", "02:00:00", "1234567", RecordClock::Make(2015, 3, 3, 1, 0, 0), false},
      // Sunday only; lists with separators; no day at all.
      {"00:00:00", "23:59:59", "7", RecordClock::Make(2015, 3, 8, 12, 0, 0), true},
      {"00:00:00", "23:59:59", "7", RecordClock::Make(2015, 3, 7, 12, 0, 0), false},
      {"00:00:00", "23:59:59", "1;3;7", RecordClock::Make(2015, 3, 4, 12, 0, 0), true},
      {"00:00:00", "23:59:59", "1;3;7", RecordClock::Make(2015, 3, 5, 12, 0, 0), false},
      {"00:00:00", "23:59:59", "1,3,5", RecordClock::Make(2015, 3, 6, 12, 0, 0), true},
      {"00:00:00", "23:59:59", "", RecordClock::Make(2015, 3, 6, 12, 0, 0), false},
      // A whole day includes its last second.
      {"00:00:00", "23:59:59", "5", RecordClock::Make(2015, 3, 6, 23, 59, 59), true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(InRecordWindow(c.start, c.end, c.days, c.now), c.inside)
        << c.start << "-" << c.end << " days " << c.days << " at " << c.now.weekday << " " << FormatClockText(c.now);
  }
}
