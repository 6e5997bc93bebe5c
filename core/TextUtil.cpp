#include "core/TextUtil.h"

#include <iconv.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <random>

int IsStreamUrl(std::string& url) {
  size_t end = url.find_first_of(":/");
  std::string scheme = end == std::string::npos ? url : url.substr(0, end);
  if (scheme == "udp") return 1;
  if (scheme == "rtsp") return 2;
  if (scheme == "rtmp") return 3;
  if (scheme == "http") return 4;
  if (scheme == "mms") url.insert(3, "h");
  return 0;
}

namespace {
bool IsUtf8(const std::string& s) {
  size_t i = 0;
  while (i < s.size()) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    size_t n;
    if (c < 0x80) n = 0;
    else if (c >= 0xc2 && c <= 0xdf) n = 1;
    else if (c >= 0xe0 && c <= 0xef) n = 2;
    else if (c >= 0xf0 && c <= 0xf4) n = 3;
    else return false;
    if (n > 0 && i + n >= s.size()) return false;
    for (size_t k = 1; k <= n; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xc0) != 0x80) return false;
    i += n + 1;
  }
  return true;
}
}  // namespace

std::string ToUtf8(const std::string& text) {
  if (IsUtf8(text)) return text;
  iconv_t cd = iconv_open("UTF-8", "GBK");
  if (cd == reinterpret_cast<iconv_t>(-1)) return text;
  std::string out;
  std::string in = text;
  char* inp = in.data();
  size_t inLeft = in.size();
  char buf[1024];
  while (inLeft > 0) {
    char* outp = buf;
    size_t outLeft = sizeof(buf);
    size_t r = iconv(cd, &inp, &inLeft, &outp, &outLeft);
    out.append(buf, sizeof(buf) - outLeft);
    if (r == static_cast<size_t>(-1) && errno != E2BIG) {
      // A byte that is not GBK either: keep a replacement mark and go on.
      out += "?";
      ++inp;
      --inLeft;
    }
  }
  iconv_close(cd);
  return out;
}

char* ConvertCodePage(const char* text) {
  std::string utf8 = ToUtf8(text ? text : "");
  char* out = new char[utf8.size() + 1];
  memcpy(out, utf8.c_str(), utf8.size() + 1);
  return out;
}

void ReplaceAll(std::string& text, const std::string& search, const std::string& replacement) {
  if (search.empty()) return;
  size_t pos = 0;
  while ((pos = text.find(search, pos)) != std::string::npos) {
    text.replace(pos, search.size(), replacement);
    pos += replacement.size();
  }
}

void SplitString(const std::string& text, const std::string& separator, std::vector<std::string>& pieces) {
  if (text.empty()) return;
  size_t start = text.find_first_not_of(separator);
  if (start == std::string::npos) return;
  if (separator.empty()) {
    pieces.push_back(text.substr(start));
    return;
  }
  while (start < text.size()) {
    size_t at = text.find(separator, start);
    if (at == std::string::npos) {
      pieces.push_back(text.substr(start));
      return;
    }
    pieces.push_back(text.substr(start, at - start));
    start = at + separator.size();
  }
  if (start == text.size()) pieces.push_back(std::string());
}

const char* FormatDuration(uint32_t ms) {
  thread_local char buf[64];
  uint32_t s = ms / 1000;
  if (s >= 86400)
    snprintf(buf, sizeof(buf), "%u:%02u:%02u:%02u.%03u", s / 86400, (s / 3600) % 24, (s / 60) % 60, s % 60, ms % 1000);
  else if (s >= 3600)
    snprintf(buf, sizeof(buf), "%u:%02u:%02u.%03u", s / 3600, (s / 60) % 60, s % 60, ms % 1000);
  else if (s < 60)
    snprintf(buf, sizeof(buf), "%u.%03u", s, ms % 1000);
  else
    snprintf(buf, sizeof(buf), "%u:%02u.%03u", s / 60, s % 60, ms % 1000);
  return buf;
}

namespace {
bool Unreserved(unsigned char c) {
  return std::isalnum(c) || (c != 0 && strchr("@-_.!~*'()%;/?:&=+$,", c) != nullptr);
}
}  // namespace

bool EscapeUri(char* dest, size_t destSize, const char* source) {
  if (dest == nullptr || destSize == 0) return false;
  static const char kHex[] = "0123456789ABCDEF";
  size_t o = 0;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(source ? source : ""); *p; ++p) {
    size_t need = Unreserved(*p) ? 1 : 3;
    if (o + need + 1 > destSize) {
      dest[o] = 0;
      return false;
    }
    if (need == 1) {
      dest[o++] = static_cast<char>(*p);
    } else {
      dest[o++] = '%';
      dest[o++] = kHex[*p >> 4];
      dest[o++] = kHex[*p & 15];
    }
  }
  dest[o] = 0;
  return true;
}

std::string EscapeUri(const std::string& source) {
  std::string out(source.size() * 3 + 1, '\0');
  EscapeUri(out.data(), out.size(), source.c_str());
  out.resize(strlen(out.c_str()));
  return out;
}

bool MakeRandomGuidText(char* dest, size_t destSize) {
  if (dest == nullptr || destSize < 39) return false;
  std::minstd_rand gen(static_cast<unsigned>(time(nullptr)));
  size_t o = 0;
  dest[o++] = '{';
  for (int i = 0; i < 32; ++i) {
    if (i == 8 || i == 12 || i == 16 || i == 20) dest[o++] = '-';
    unsigned v = static_cast<unsigned>(gen()) % 15;
    dest[o++] = static_cast<char>(v < 10 ? '0' + v : 'A' + (v - 10));
  }
  dest[o++] = '}';
  dest[o] = 0;
  return true;
}
