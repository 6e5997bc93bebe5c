#include "console/logic/SourceLabel.h"

std::string MakeSourceLabel(const std::string& alias, const std::string& url) {
  return "[" + alias + "]" + url;
}
