#pragma once
// Texts and checks the console's dialogs share.
#include <string>
#include <vector>

#include "console/logic/Prompt.h"

namespace vvforms {

// Messages of the dialogs that are not about one field.
extern const char* const kDatabaseWriteFailed;  // a row could not be stored
extern const char* const kUrlHasSubStreams;     // a source's url is changed while sub-streams use it

// Blanks on both sides removed.
std::string Trim(const std::string& s);

// The check of a number field: outside min..max the operator reads the range
// and the dialog stays open.
bool CheckRange(IPrompt& prompt, long long value, long long min, long long max);

// "W" and "H" of "WxH", split at the first "x" (0 where no number stands).
void SplitSize(const std::string& text, int& width, int& height);

// A list of a combo box with its selection (-1: none).
struct Choice {
  std::vector<std::string> items;
  int selected = -1;
  const std::string* Selected() const {
    return selected >= 0 && selected < static_cast<int>(items.size()) ? &items[selected] : nullptr;
  }
  std::string SelectedText() const { return Selected() ? *Selected() : std::string(); }
  // Selects the first item equal to text after trimming both; false (and
  // the selection unchanged) when none is.
  bool SelectTrimmed(const std::string& text);
};

}  // namespace vvforms

// The ranges of the number fields (the widgets use the same).
namespace vvforms {
constexpr int kMaxInt = 2147483647;
constexpr int kMinFrameField = 2;
constexpr int kMaxFrameField = 10000;
constexpr long long kMaxDelaySeconds = 1000000000;
}  // namespace vvforms
