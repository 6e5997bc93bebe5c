#pragma once
// The text of a source or sub-stream node in the source tree.
#include <string>

// "[alias]url".
std::string MakeSourceLabel(const std::string& alias, const std::string& url);
