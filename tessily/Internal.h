// Helpers shared by the library's sources; nothing here is exported.
#ifndef TESSILY_INTERNAL_H
#define TESSILY_INTERNAL_H

#include <string>

namespace tessily {

bool IsSpace(unsigned char c);
char Upper(unsigned char c);
char Lower(unsigned char c);
bool EqualNoCase(const std::string& a, const std::string& b);

}  // namespace tessily

#endif
