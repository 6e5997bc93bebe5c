#pragma once
// Text helpers: input URL classification, code page conversion, string
// splitting and replacing, URI escaping and duration formatting.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Protocol kind of an input URL by its scheme (the text before the first ":"
// or "/"): "udp" 1, "rtsp" 2, "rtmp" 3, "http" 4, anything else 0. A scheme
// "mms" is rewritten to "mmsh" (FFmpeg's name for it) and gives 0.
int IsStreamUrl(std::string& url);

// A new zero-terminated UTF-8 copy of the text, released by the caller with
// delete[]. Text that is already UTF-8 is copied as it is; other bytes are
// taken as GBK (code page 936), as stored by older installations.
char* ConvertCodePage(const char* text);
std::string ToUtf8(const std::string& text);

// Replaces every occurrence from left to right; inserted text is never
// searched again. An empty search text changes nothing.
void ReplaceAll(std::string& text, const std::string& search, const std::string& replacement);

// Appends the pieces of the text between separators (the separator taken as
// a whole) to the list. Leading separator characters are skipped; empty
// pieces between adjacent separators and after a final one are kept.
void SplitString(const std::string& text, const std::string& separator, std::vector<std::string>& pieces);

// "s.mmm", "m:ss.mmm", "h:mm:ss.mmm" or "d:hh:mm:ss.mmm". The text lives in
// a buffer of the calling thread, overwritten by its next call.
const char* FormatDuration(uint32_t ms);

// Copies the source with every byte other than letters, digits and
// @-_.!~*'()%;/?:&=+$, written as "%XX" (upper-case hex). Returns false,
// with a terminated but shortened copy that ends before the first escape
// that did not fit, when destSize is too small (3 * length + 1 always fits).
bool EscapeUri(char* dest, size_t destSize, const char* source);
std::string EscapeUri(const std::string& source);
// The two-argument form for a character array, whose size is known.
template <size_t N>
bool EscapeUri(char (&dest)[N], const char* source) {
  return EscapeUri(dest, N, source);
}

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" from a generator seeded with the
// current time, each character one of the fifteen symbols 0-9 and A-E.
// dest must hold 39 bytes; false (nothing written) when destSize is smaller.
bool MakeRandomGuidText(char* dest, size_t destSize);
template <size_t N>
bool MakeRandomGuidText(char (&dest)[N]) {
  return MakeRandomGuidText(dest, N);
}
