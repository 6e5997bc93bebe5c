#include "console/logic/FormChecks.h"

#include <cstdlib>

namespace vvforms {

const char* const kDatabaseWriteFailed = "写入数据库失败!";
const char* const kUrlHasSubStreams = "该源下还有子码流，不能修改地址";

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return "";
  size_t e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

bool CheckRange(IPrompt& prompt, long long value, long long min, long long max) {
  if (value >= min && value <= max) return true;
  prompt.Message("请输入一个介于 " + std::to_string(min) + " 和 " + std::to_string(max) + " 之间的整数。");
  return false;
}

void SplitSize(const std::string& text, int& width, int& height) {
  size_t x = text.find('x');
  width = std::atoi(text.substr(0, x).c_str());
  height = x == std::string::npos ? 0 : std::atoi(text.c_str() + x + 1);
}

bool Choice::SelectTrimmed(const std::string& text) {
  std::string want = Trim(text);
  for (size_t i = 0; i < items.size(); ++i) {
    if (Trim(items[i]) == want) {
      selected = static_cast<int>(i);
      return true;
    }
  }
  return false;
}

}  // namespace vvforms
