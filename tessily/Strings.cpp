// Trimming, case, backslash escapes, HTML and URL encoding and the 6-bit text code.
#include "Tessily.h"
#include "Internal.h"

#include <cstdint>
#include <cstring>

namespace tessily {

bool IsSpace(unsigned char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

char Upper(unsigned char c) {
    return static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
}

char Lower(unsigned char c) {
    return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
}

bool EqualNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Lower(static_cast<unsigned char>(a[i])) != Lower(static_cast<unsigned char>(b[i]))) return false;
    return true;
}

}  // namespace tessily

namespace {

using tessily::IsSpace;

// Which bytes a trim removes.
struct SpaceKind {
    bool operator()(char c) const { return IsSpace(static_cast<unsigned char>(c)); }
};
struct CharKind {
    char ch;
    bool operator()(char c) const { return c == ch; }
};
struct SetKind {
    const char* set;
    bool operator()(char c) const { return set && c != '\0' && std::strchr(set, c) != nullptr; }
};

template <class Kind>
size_t LeftCount(const std::string& s, Kind kind) {
    size_t i = 0;
    while (i < s.size() && kind(s[i])) ++i;
    return i;
}

template <class Kind>
size_t RightEnd(const std::string& s, size_t from, Kind kind) {
    size_t e = s.size();
    while (e > from && kind(s[e - 1])) --e;
    return e;
}

template <class Kind>
std::string CopyLeft(const std::string& s, Kind kind) noexcept {
    try {
        return s.substr(LeftCount(s, kind));
    } catch (...) {
        return std::string();
    }
}

template <class Kind>
std::string CopyRight(const std::string& s, Kind kind) noexcept {
    try {
        return s.substr(0, RightEnd(s, 0, kind));
    } catch (...) {
        return std::string();
    }
}

template <class Kind>
std::string CopyBoth(const std::string& s, Kind kind) noexcept {
    try {
        size_t b = LeftCount(s, kind);
        return s.substr(b, RightEnd(s, b, kind) - b);
    } catch (...) {
        return std::string();
    }
}

// Erasing only shortens the string, so none of these can throw.
template <class Kind>
std::string& InLeft(std::string& s, Kind kind) noexcept {
    s.erase(0, LeftCount(s, kind));
    return s;
}

template <class Kind>
std::string& InRight(std::string& s, Kind kind) noexcept {
    s.erase(RightEnd(s, 0, kind));
    return s;
}

template <class Kind>
std::string& InBoth(std::string& s, Kind kind) noexcept {
    InRight(s, kind);
    return InLeft(s, kind);
}

bool IsOctal(unsigned char c) { return c >= '0' && c <= '7'; }

int HexValue(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool IsAlnum(unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

const char kSymbols[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

struct ReverseTable {
    unsigned char value[128];
    ReverseTable() {
        std::memset(value, 0, sizeof value);
        for (int i = 0; i < 64; ++i) value[static_cast<unsigned char>(kSymbols[i])] = static_cast<unsigned char>(i);
    }
};
const ReverseTable kReverse;

}  // namespace

std::string LTrim(const std::string& t) noexcept { return CopyLeft(t, SpaceKind{}); }
std::string LTrim(const std::string& t, char c) noexcept { return CopyLeft(t, CharKind{c}); }
std::string LTrim(const std::string& t, const char* set) noexcept { return CopyLeft(t, SetKind{set}); }
std::string RTrim(const std::string& t) noexcept { return CopyRight(t, SpaceKind{}); }
std::string RTrim(const std::string& t, char c) noexcept { return CopyRight(t, CharKind{c}); }
std::string RTrim(const std::string& t, const char* set) noexcept { return CopyRight(t, SetKind{set}); }
std::string Trim(const std::string& t) noexcept { return CopyBoth(t, SpaceKind{}); }
std::string Trim(const std::string& t, char c) noexcept { return CopyBoth(t, CharKind{c}); }
std::string Trim(const std::string& t, const char* set) noexcept { return CopyBoth(t, SetKind{set}); }
std::string& _LTrim(std::string& t) noexcept { return InLeft(t, SpaceKind{}); }
std::string& _LTrim(std::string& t, char c) noexcept { return InLeft(t, CharKind{c}); }
std::string& _LTrim(std::string& t, const char* set) noexcept { return InLeft(t, SetKind{set}); }
std::string& _RTrim(std::string& t) noexcept { return InRight(t, SpaceKind{}); }
std::string& _RTrim(std::string& t, char c) noexcept { return InRight(t, CharKind{c}); }
std::string& _RTrim(std::string& t, const char* set) noexcept { return InRight(t, SetKind{set}); }
std::string& _Trim(std::string& t) noexcept { return InBoth(t, SpaceKind{}); }
std::string& _Trim(std::string& t, char c) noexcept { return InBoth(t, CharKind{c}); }
std::string& _Trim(std::string& t, const char* set) noexcept { return InBoth(t, SetKind{set}); }

std::string& _UCase(std::string& t) noexcept {
    for (char& c : t) c = tessily::Upper(static_cast<unsigned char>(c));
    return t;
}

std::string& _LCase(std::string& t) noexcept {
    for (char& c : t) c = tessily::Lower(static_cast<unsigned char>(c));
    return t;
}

std::string UCase(const std::string& t) noexcept {
    try {
        std::string r = t;
        return _UCase(r);
    } catch (...) {
        return std::string();
    }
}

std::string LCase(const std::string& t) noexcept {
    try {
        std::string r = t;
        return _LCase(r);
    } catch (...) {
        return std::string();
    }
}

char FormatCChar(const std::string& text, int& pos) noexcept {
    const size_t size = text.size();
    if (pos < 0 || static_cast<size_t>(pos) >= size) return 0;
    size_t p = static_cast<size_t>(pos);
    unsigned char c = static_cast<unsigned char>(text[p++]);
    if (c == '\\' && p < size) {
        c = static_cast<unsigned char>(text[p++]);
        if (IsOctal(c)) {
            unsigned value = c - '0';
            for (int n = 0; n < 2 && p < size && IsOctal(static_cast<unsigned char>(text[p])); ++n)
                value = value * 8 + (static_cast<unsigned char>(text[p++]) - '0');
            c = static_cast<unsigned char>(value & 0xFF);
        } else {
            switch (c) {
            case 'a': c = 7; break;
            case 'b': c = 8; break;
            case 'n': c = 10; break;
            case 'r': c = 13; break;
            case 't': c = 9; break;
            case 'v': c = 11; break;
            case 'x':
                if (p < size && HexValue(static_cast<unsigned char>(text[p])) >= 0) {
                    unsigned value = static_cast<unsigned>(HexValue(static_cast<unsigned char>(text[p++])));
                    if (p < size && HexValue(static_cast<unsigned char>(text[p])) >= 0)
                        value = value * 16 + static_cast<unsigned>(HexValue(static_cast<unsigned char>(text[p++])));
                    c = static_cast<unsigned char>(value);
                }
                break;
            default: break;  // stands for itself
            }
        }
    }
    // p never exceeds size, and size fits the position only when pos did; keep it in range.
    pos = p > static_cast<size_t>(INT32_MAX) ? INT32_MAX : static_cast<int>(p);
    return static_cast<char>(c);
}

std::string FormatCString(const std::string& text, int& pos) noexcept {
    if (pos < 0 || static_cast<size_t>(pos) >= text.size() || text[static_cast<size_t>(pos)] != '"')
        return std::string();
    try {
        std::string out;
        int p = pos + 1;
        while (static_cast<size_t>(p) < text.size() && text[static_cast<size_t>(p)] != '"') {
            int before = p;
            out += FormatCChar(text, p);
            if (p == before) break;  // cannot advance (a text longer than a position can reach)
        }
        if (static_cast<size_t>(p) < text.size() && text[static_cast<size_t>(p)] == '"') ++p;
        pos = p;
        return out;
    } catch (...) {
        return std::string();
    }
}

std::string HTMLEncode(const std::string& text) noexcept {
    try {
        std::string out;
        out.reserve(text.size());
        for (char c : text) {
            switch (c) {
            case '"': out += "&quot;"; break;
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            default: out += c; break;
            }
        }
        return out;
    } catch (...) {
        return std::string();
    }
}

std::string URLEncode(const std::string& text) noexcept {
    static const char hex[] = "0123456789ABCDEF";
    try {
        std::string out;
        out.reserve(text.size());
        for (char ch : text) {
            unsigned char c = static_cast<unsigned char>(ch);
            if (IsAlnum(c)) {
                out += ch;
            } else if (c == ' ') {
                out += '+';
            } else {
                out += '%';
                out += hex[c >> 4];
                out += hex[c & 15];
            }
        }
        return out;
    } catch (...) {
        return std::string();
    }
}

std::string URLDecode(const std::string& text) noexcept {
    try {
        std::string out;
        out.reserve(text.size());
        for (size_t i = 0; i < text.size(); ++i) {
            char c = text[i];
            if (c == '+') {
                out += ' ';
            } else if (c == '%' && i + 2 < text.size() &&
                       HexValue(static_cast<unsigned char>(text[i + 1])) >= 0 &&
                       HexValue(static_cast<unsigned char>(text[i + 2])) >= 0) {
                out += static_cast<char>(HexValue(static_cast<unsigned char>(text[i + 1])) * 16 +
                                         HexValue(static_cast<unsigned char>(text[i + 2])));
                i += 2;
            } else {
                out += c;
            }
        }
        return out;
    } catch (...) {
        return std::string();
    }
}

void StrEncode(const std::string& text, std::string& out) noexcept {
    try {
        std::string code;
        code.reserve(text.size() / 3 * 4 + 4);
        unsigned bits = 0;
        int held = 0;
        for (char ch : text) {
            bits = (bits << 8) | static_cast<unsigned char>(ch);
            held += 8;
            while (held >= 6) {
                held -= 6;
                code += kSymbols[(bits >> held) & 63];
            }
            bits &= (1u << held) - 1;
        }
        if (held > 0) code += kSymbols[(bits << (6 - held)) & 63];
        out.swap(code);
    } catch (...) {
        out.clear();
    }
}

void StrDecode(const std::string& code, std::string& out) noexcept {
    try {
        std::string bytes;
        bytes.reserve(code.size() / 4 * 3 + 3);
        unsigned bits = 0;
        int held = 0;
        for (char ch : code) {
            bits = (bits << 6) | kReverse.value[static_cast<unsigned char>(ch) & 127];
            held += 6;
            if (held >= 8) {
                held -= 8;
                bytes += static_cast<char>((bits >> held) & 0xFF);
            }
            bits &= (1u << held) - 1;
        }
        out.swap(bytes);
    } catch (...) {
        out.clear();
    }
}
