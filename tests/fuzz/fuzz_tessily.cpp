// Feeds arbitrary bytes to Tessily's readers (escapes, URL and 6-bit decoding, INI text, the
// string stream) and checks that nothing reads outside its text and that what a writer
// accepts reads back as written.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "Tessily.h"

namespace {

int TakeInt(const uint8_t*& data, size_t& size) {
    int32_t v = 0;
    if (size >= 4) {
        std::memcpy(&v, data, 4);
        data += 4;
        size -= 4;
    }
    return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const int a = TakeInt(data, size);
    const int b = TakeInt(data, size);
    const std::string text(reinterpret_cast<const char*>(data), size);

    // Escapes: every position, and positions outside the text.
    for (int pos = -1; pos <= static_cast<int>(text.size()) + 1; ++pos) {
        int p = pos;
        FormatCChar(text, p);
        if (pos >= 0 && pos < static_cast<int>(text.size()) && (p <= pos || p > static_cast<int>(text.size()))) abort();
        p = pos;
        FormatCString(text, p);
        if (p < pos && pos >= 0) abort();
    }
    std::string code, back;
    StrEncode(text, code);
    StrDecode(code, back);
    if (back != text) abort();
    StrDecode(text, back);
    if (URLDecode(URLEncode(text)) != text) abort();
    URLDecode(text);

    // INI text: the input split into section, key and value at its first two NULs.
    const size_t n1 = text.find('\0');
    const size_t n2 = n1 == std::string::npos ? std::string::npos : text.find('\0', n1 + 1);
    const std::string section = text.substr(0, n1);
    const std::string key = n1 == std::string::npos ? "k" : text.substr(n1 + 1, n2 - n1 - 1);
    const std::string value = n2 == std::string::npos ? "v" : text.substr(n2 + 1);
    const std::string ini = "[s]\r\nk=1\r\n" + text;
    const std::string written = WriteMemIniString(ini, section, key, value);
    if (written != ini && GetMemIniString(written, section, key, "\x01", 0) != Trim(value)) abort();
    GetMemIniString(text, section, key, "", ',');
    GetMemIniStringAsList(text, section);
    ClearMemIniStringInSect(text, section, key);
    ClearMemIniString(text, section);
    RenameMemIniSecString(text, section, value);

    // The stream with arbitrary ranges, then a source that shrinks.
    std::string source = text;
    CIStrStream r(source, a, b);
    if (r.Size() < 0) abort();
    CIStrStream sub = r.SubStream(b, a);
    if (sub.Size() < 0 || sub.Size() > r.Size()) abort();
    sub.Seek(a, b & 3);
    sub.Get(a);
    sub.SubString(b, a);
    sub.Find(key, a);
    sub.Seek(value);
    source.resize(source.size() / 2);
    int lines = 0;
    r.Reset();
    while (!r.IsEOS()) {
        r.GetLine();
        if (++lines > static_cast<int>(text.size()) + 1) abort();
    }
    int pos = a;
    GetLine(source, pos);
    return 0;
}
