#include "Tessily.h"

#include <gtest/gtest.h>

#include <climits>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string FromHex(const std::string& hex) {
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}

std::string ToHex(const std::string& s) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : s) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

struct Ref {
    std::string function, arg, expected, extra;
};

std::vector<Ref> LoadRefs() {
    std::vector<Ref> refs;
    std::ifstream in(TESSILY_REFS);
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> f;
        std::stringstream ss(line);
        std::string field;
        while (std::getline(ss, field, '\t')) f.push_back(field);
        while (f.size() < 4) f.emplace_back();
        refs.push_back(Ref{f[0], FromHex(f[1]), FromHex(f[2]), f[3]});
    }
    return refs;
}

// Runs one reference row; the position result of FormatCString goes into pos.
std::string Apply(const Ref& r, int& pos) {
    const std::string& a = r.arg;
    std::string out = "previous content";
    if (r.function == "LTrim") return LTrim(a);
    if (r.function == "RTrim") return RTrim(a);
    if (r.function == "Trim") return Trim(a);
    if (r.function == "LTrim_x") return LTrim(a, 'x');
    if (r.function == "RTrim_x") return RTrim(a, 'x');
    if (r.function == "Trim_x") return Trim(a, 'x');
    if (r.function == "Trim_crlf") return Trim(a, "\r\n");
    if (r.function == "RTrim_crlf") return RTrim(a, "\r\n");
    if (r.function == "UCase") return UCase(a);
    if (r.function == "LCase") return LCase(a);
    if (r.function == "HTMLEncode") return HTMLEncode(a);
    if (r.function == "URLEncode") return URLEncode(a);
    if (r.function == "URLDecode") return URLDecode(a);
    if (r.function == "StrEncode") return StrEncode(a, out), out;
    if (r.function == "StrDecode") return StrDecode(a, out), out;
    if (r.function == "FormatCString") {
        pos = 0;
        return FormatCString(a, pos);
    }
    ADD_FAILURE() << "unknown function in the references: " << r.function;
    return std::string();
}

// The in-place variant of a reference row, where there is one.
bool ApplyInPlace(const Ref& r, std::string& s) {
    if (r.function == "LTrim") return _LTrim(s), true;
    if (r.function == "RTrim") return _RTrim(s), true;
    if (r.function == "Trim") return _Trim(s), true;
    if (r.function == "LTrim_x") return _LTrim(s, 'x'), true;
    if (r.function == "RTrim_x") return _RTrim(s, 'x'), true;
    if (r.function == "Trim_x") return _Trim(s, 'x'), true;
    if (r.function == "Trim_crlf") return _Trim(s, "\r\n"), true;
    if (r.function == "RTrim_crlf") return _RTrim(s, "\r\n"), true;
    if (r.function == "UCase") return _UCase(s), true;
    if (r.function == "LCase") return _LCase(s), true;
    return false;
}

TEST(TessilyStrings, MatchPythonReferences) {
    const std::vector<Ref> refs = LoadRefs();
    ASSERT_FALSE(refs.empty()) << "no references read from " << TESSILY_REFS;
    for (const Ref& r : refs) {
        int pos = 0;
        const std::string copy = r.arg;
        EXPECT_EQ(ToHex(Apply(r, pos)), ToHex(r.expected)) << r.function << " of " << ToHex(r.arg);
        EXPECT_EQ(r.arg, copy) << r.function << " changed its argument";
        if (!r.extra.empty()) {
            EXPECT_EQ(pos, std::stoi(r.extra)) << r.function << " of " << ToHex(r.arg);
        }
        std::string s = r.arg;
        if (ApplyInPlace(r, s)) {
            EXPECT_EQ(ToHex(s), ToHex(r.expected)) << "_" << r.function << " of " << ToHex(r.arg);
        }
    }
}

TEST(TessilyStrings, TrimEdges) {
    EXPECT_EQ(Trim(" \t \t"), "");
    EXPECT_EQ(Trim("xxaxx", 'x'), "a");
    EXPECT_EQ(Trim("xxxx", 'x'), "");
    std::string s = "line\r\n\r\n\n";
    EXPECT_EQ(&_RTrim(s, "\r\n"), &s);  // in place, returning the string itself
    EXPECT_EQ(s, "line");
    // Bytes above 0x7f are never white space nor letters, whatever the locale says.
    EXPECT_EQ(Trim("\xa0 a \x85"), "\xa0 a \x85");
    EXPECT_EQ(UCase("\xe4\xfc z"), "\xe4\xfc Z");
    // An empty or missing set trims nothing.
    EXPECT_EQ(Trim("  a  ", ""), "  a  ");
    EXPECT_EQ(Trim("  a  ", static_cast<const char*>(nullptr)), "  a  ");
    std::string t = "  a  ";
    EXPECT_EQ(_LTrim(t, static_cast<const char*>(nullptr)), "  a  ");
    // NUL is an ordinary byte for the one-character trims.
    EXPECT_EQ(Trim(std::string("\0a\0", 3), '\0'), "a");
}

TEST(TessilyStrings, FormatCCharEscapes) {
    struct Case {
        std::string text;
        int pos;
        char expected;
        int after;
    };
    const Case cases[] = {
        {"\\101", 0, 'A', 4},
        {"\\x41z", 0, 'A', 4},        // the z stays unread
        {"\\x4g", 0, '\x04', 3},      // one hex digit is enough
        {"\\x", 0, 'x', 2},           // no hex digit: the letter x
        {"\\xg", 0, 'x', 2},
        {"\\q", 0, 'q', 2},           // unknown escapes stand for themselves
        {"\\f", 0, 'f', 2},           // no form feed
        {"\\?", 0, '?', 2},
        {"\\\"", 0, '"', 2},
        {"\\\\", 0, '\\', 2},
        {"\\n\\t", 2, '\t', 4},
        {"\\a\\b\\r\\v", 6, '\v', 8},
        {"\\18", 0, '\x01', 2},       // an octal escape ends at the first non-octal digit
        {"\\0", 0, '\0', 2},
        {"\\777", 0, '\xff', 4},      // the low byte of the value
        {"\\1234", 0, 'S', 4},        // at most three digits
        {"\\", 0, '\\', 1},           // a backslash at the end stands for itself
        {"ab\\", 2, '\\', 3},
        {"a", 1, '\0', 1},            // at the end: nothing read, no move
        {"a", -1, '\0', -1},
        {"a", 7, '\0', 7},
        {"", 0, '\0', 0},
        {"\xe4", 0, '\xe4', 1},
    };
    for (const Case& c : cases) {
        int pos = c.pos;
        EXPECT_EQ(FormatCChar(c.text, pos), c.expected) << c.text << " at " << c.pos;
        EXPECT_EQ(pos, c.after) << c.text << " at " << c.pos;
    }
}

TEST(TessilyStrings, FormatCStringQuotedText) {
    struct Case {
        std::string text;
        int pos;
        std::string expected;
        int after;
    };
    const Case cases[] = {
        {"\"a\\tb\"rest", 0, "a\tb", 6},
        {"x=\"a\"", 2, "a", 5},
        {"x=\"a\"", 0, "", 0},                      // no quote at the position
        {"\"abc", 0, "abc", 4},                     // unterminated: to the end
        {"\"ab\\", 0, "ab\\", 4},                   // trailing backslash
        {"\"ab\\\"", 0, "ab\"", 5},                 // the escaped quote does not close
        {"\"\\x\"", 0, "x", 4},
        {"\"\\f\\q\"", 0, "fq", 6},
        {std::string("\"a\\0b\""), 0, std::string("a\0b", 3), 6},  // results may hold NUL
        {"\"\"", 0, "", 2},
        {"\"", 0, "", 1},
        {"\"a\"", -1, "", -1},
        {"\"a\"", 3, "", 3},
        {"\"a\"", 9, "", 9},
    };
    for (const Case& c : cases) {
        int pos = c.pos;
        EXPECT_EQ(FormatCString(c.text, pos), c.expected) << c.text << " at " << c.pos;
        EXPECT_EQ(pos, c.after) << c.text << " at " << c.pos;
    }
}

TEST(TessilyStrings, UrlAndHtml) {
    EXPECT_EQ(URLEncode("a b&c"), "a+b%26c");
    EXPECT_EQ(URLDecode("a+b%26c"), "a b&c");
    EXPECT_EQ(URLEncode("-_.~*"), "%2D%5F%2E%7E%2A");
    EXPECT_EQ(URLEncode(std::string("\0\xff", 2)), "%00%FF");
    const std::pair<std::string, std::string> decode[] = {
        {"%2f", "/"}, {"%2F", "/"}, {"%", "%"}, {"%4", "%4"}, {"a%", "a%"}, {"a%4", "a%4"},
        {"%%41", "%A"}, {"%g1", "%g1"}, {"%2B+", "+ "}, {"%00", std::string("\0", 1)},
    };
    for (const auto& c : decode) EXPECT_EQ(URLDecode(c.first), c.second) << c.first;
    EXPECT_EQ(HTMLEncode("<\">"), "&lt;&quot;&gt;");
    EXPECT_EQ(HTMLEncode("a'&b"), "a'&amp;b");
}

TEST(TessilyStrings, SixBitCode) {
    std::string out = "previous content";
    StrEncode("abc", out);  // replaces, never appends
    EXPECT_EQ(out, "YWJj");
    StrEncode("a", out);
    EXPECT_EQ(out.size(), 2u);
    StrEncode("", out);
    EXPECT_EQ(out, "");
    StrDecode("YWJj", out);
    EXPECT_EQ(out, "abc");
    StrDecode("Y", out);  // one symbol holds no whole byte
    EXPECT_EQ(out, "");
    // Only the low 7 bits of a symbol count; symbols outside the table are 0.
    StrDecode("\xd1\xd1", out);
    EXPECT_EQ(out, "A");
    StrDecode("QQ==", out);
    EXPECT_EQ(out, std::string("A\0\0", 3));
    std::string all;
    for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
    std::string code, back;
    StrEncode(all, code);
    EXPECT_EQ(code.size(), (8 * all.size() + 5) / 6);
    StrDecode(code, back);
    EXPECT_EQ(back, all);
}

}  // namespace
