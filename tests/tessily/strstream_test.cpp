#include "Tessily.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace {

struct Span {
    int begin;  // source offset of the range's start (Find(""), from 0)
    int size;
};

Span RangeOf(const CIStrStream& r) { return Span{r.Find("", 0), r.Size()}; }

TEST(TessilyStream, ReadsLines) {
    const std::string text = "ab\r\ncd";
    CIStrStream r(text);
    EXPECT_EQ(r.GetLine(), "ab");
    EXPECT_EQ(r.GetLine(), "cd");
    EXPECT_TRUE(r.IsEOS());
    EXPECT_EQ(r.GetLine(), "");
    EXPECT_EQ(r.Tell(), 6);

    // Only trailing carriage returns go; blanks and inner ones stay.
    const std::string more = " a\rb \r\r\n\n";
    CIStrStream m(more);
    EXPECT_EQ(m.GetLine(), " a\rb ");
    EXPECT_EQ(m.GetLine(), "");
    EXPECT_TRUE(m.IsEOS());

    // A line never runs past the range, and the position stops at its end.
    const std::string src = "abcdef\nxyz";
    CIStrStream part(src, 1, 4);
    EXPECT_EQ(part.GetLine(), "bcd");
    EXPECT_TRUE(part.IsEOS());
    EXPECT_EQ(part.Tell(), 3);
}

TEST(TessilyStream, ConstructorsClampTheirRange) {
    const std::string s = "0123456789";
    struct Case {
        int from, to, begin, size;
    };
    const Case cases[] = {
        {0, -1, 0, 10}, {2, 5, 2, 3}, {-1, -1, 10, 0}, {-1, 3, 10, 0},  // never a negative size
        {5, 3, 5, 5},   {11, 3, 10, 0}, {3, 99, 3, 7},  {10, 10, 10, 0}, {INT_MIN, INT_MAX, 10, 0},
    };
    for (const Case& c : cases) {
        CIStrStream r(s, c.from, c.to);
        EXPECT_EQ(RangeOf(r).begin, c.begin) << c.from << ".." << c.to;
        EXPECT_EQ(r.Size(), c.size) << c.from << ".." << c.to;
        EXPECT_EQ(r.Tell(), 0);
        EXPECT_EQ(r.IsEOS(), c.size == 0);
    }
    const std::string big = "0123456789abcdefghijklmnopqrstuvwxyz";
    const CIStrStream base(big, 10, 20);
    const Case sub[] = {
        {2, 7, 12, 5}, {0, -1, 10, 10}, {-1, 3, 20, 0}, {11, 12, 20, 0}, {4, 2, 14, 6}, {3, 99, 13, 7},
        {INT_MAX, INT_MAX, 20, 0},
    };
    for (const Case& c : sub) {
        CIStrStream r(base, c.from, c.to);
        EXPECT_EQ(RangeOf(r).begin, c.begin) << c.from << ".." << c.to;
        EXPECT_EQ(r.Size(), c.size) << c.from << ".." << c.to;
    }
}

TEST(TessilyStream, CopyStartsAtBeginAssignmentAtEnd) {
    const std::string s = "0123456789";
    CIStrStream a(s, 2, 8);
    a.Seek(3, 0);
    CIStrStream copy(a);
    EXPECT_EQ(copy.Tell(), 0);
    EXPECT_EQ(copy.Size(), 6);
    EXPECT_EQ(copy.Get(2), "23");

    const std::string other = "xyz";
    CIStrStream b(other);
    b = a;
    EXPECT_TRUE(b.IsEOS());
    EXPECT_EQ(b.Tell(), 6);
    EXPECT_EQ(b.GetLine(), "");
    b.Reset();
    EXPECT_FALSE(b.IsEOS());
    EXPECT_EQ(b.GetLine(), "234567");
}

TEST(TessilyStream, SeekByOffset) {
    const std::string s = "0123456789";
    CIStrStream r(s, 2, 8);
    EXPECT_TRUE(r.Seek(-1, 2));
    EXPECT_EQ(r.Tell(), 5);
    EXPECT_EQ(r.Get(-1), "7");
    EXPECT_FALSE(r.Seek(1, 2));
    EXPECT_TRUE(r.IsEOS());
    EXPECT_TRUE(r.Seek(2, 0));
    EXPECT_TRUE(r.Seek(1, 1));
    EXPECT_EQ(r.Tell(), 3);
    EXPECT_FALSE(r.Seek(-4, 1));
    EXPECT_EQ(r.Tell(), 6);
    EXPECT_FALSE(r.Seek(-1, 0));
    EXPECT_EQ(r.Tell(), 6);
    EXPECT_TRUE(r.Seek(0, 0));
    EXPECT_FALSE(r.Seek(INT_MAX, 1));  // no wrap-around
    EXPECT_TRUE(r.IsEOS());
    r.Reset();
    EXPECT_FALSE(r.Seek(INT_MIN, 2));
    EXPECT_TRUE(r.IsEOS());
    // Any other origin means source offset 0: inside this range only when it starts there.
    EXPECT_FALSE(r.Seek(5, 9));
    CIStrStream whole(s);
    whole.Seek(4, 0);
    EXPECT_TRUE(whole.Seek(5, 9));
    EXPECT_EQ(whole.Tell(), 0);
}

TEST(TessilyStream, GetAndSubStringDoNotMove) {
    const std::string s = "0123456789";
    CIStrStream r(s, 2, 8);
    r.Seek(1, 0);
    EXPECT_EQ(r.Get(3), "345");
    EXPECT_EQ(r.Tell(), 1);
    EXPECT_EQ(r.Get(-1), "34567");
    EXPECT_EQ(r.Get(100), "34567");
    EXPECT_EQ(r.Get(0), "");
    EXPECT_EQ(r.SubString(1, 2), "34");
    EXPECT_EQ(r.SubString(4), "67");
    EXPECT_EQ(r.SubString(4, INT_MAX), "67");
    EXPECT_EQ(r.SubString(-1, 3), "");
    EXPECT_EQ(r.SubString(7, 3), "");
    EXPECT_EQ(r.Tell(), 1);
    const std::string nul("a\0b", 3);
    EXPECT_EQ(CIStrStream(nul).Get(-1), nul);
}

TEST(TessilyStream, SearchesGiveSourceOffsets) {
    const std::string s = "abcabcXabcabc";
    CIStrStream r(s, 2, 11);  // "cabcXabca"
    EXPECT_EQ(r.Find("abc", 0), 3);
    EXPECT_EQ(r.Find("abc", 2), 7);
    EXPECT_EQ(r.Find("abc", 6), -1);  // the next one ends past the range
    EXPECT_EQ(r.Find("abc", -1), -1);
    EXPECT_EQ(r.Find("abc", 99), -1);
    EXPECT_EQ(r.Tell(), 0);

    EXPECT_EQ(r.Seek("X"), 6);
    EXPECT_EQ(r.Tell(), 4);
    EXPECT_EQ(r.Seek("abc"), 7);
    EXPECT_EQ(r.Seek("abc"), 7);  // the position is on the match
    r.Seek(1, 1);
    EXPECT_EQ(r.Seek("abc"), -1);  // would end past the range
    EXPECT_TRUE(r.IsEOS());

    const std::string big = "0123456789abcdefghijklmnopqrstuvwxyz";
    CIStrStream outer(big, 10, 20);
    CIStrStream sub = outer.SubStream(2, 5);
    EXPECT_EQ(sub.Size(), 5);
    EXPECT_EQ(sub.Get(-1), "cdefg");
    EXPECT_EQ(sub.Find("e", 0), 14);
    EXPECT_EQ(sub.Find("h", 0), -1);
    EXPECT_EQ(outer.SubStream(2, -1).Get(-1), "cdefghij");
    EXPECT_EQ(outer.SubStream(2, INT_MAX).Get(-1), "cdefghij");  // no overflow of from + count
    EXPECT_EQ(outer.SubStream(-1, 5).Size(), 0);
}

TEST(TessilyStream, StopsAtTheSourcesRealEnd) {
    std::string s = "line1\nline2\nline3";
    CIStrStream r(s);
    CIStrStream tail(s, 6);
    s.resize(3);
    EXPECT_EQ(r.Get(-1), "lin");
    EXPECT_EQ(r.SubString(0, 100), "lin");
    EXPECT_EQ(r.Find("line2", 0), -1);
    EXPECT_EQ(r.GetLine(), "lin");
    EXPECT_TRUE(r.IsEOS());
    EXPECT_EQ(tail.Get(-1), "");
    EXPECT_EQ(tail.Seek("line"), -1);
    tail.Reset();
    int lines = 0;
    while (!tail.IsEOS() && lines < 10) {
        EXPECT_EQ(tail.GetLine(), "");
        ++lines;
    }
    EXPECT_EQ(lines, 1);  // a line loop ends even though the range reaches past the text
}

TEST(TessilyStream, FreeAndStaticGetLine) {
    using Fn = std::string (*)(const std::string&, int&);
    const Fn functions[] = {&GetLine, &CIStrStream::GetLine};
    for (Fn getLine : functions) {
        const std::string text = "a\r\nb";
        int pos = 0;
        EXPECT_EQ(getLine(text, pos), "a");
        EXPECT_EQ(pos, 3);
        EXPECT_EQ(getLine(text, pos), "b");
        EXPECT_EQ(pos, 4);
        EXPECT_EQ(getLine(text, pos), "");
        EXPECT_EQ(pos, 4);
        pos = -1;
        EXPECT_EQ(getLine(text, pos), "");
        EXPECT_EQ(pos, -1);
        pos = 5;
        EXPECT_EQ(getLine(text, pos), "");
        EXPECT_EQ(pos, 5);
        const std::string crs = "x\r\r\n\r\ny\rz\n";
        pos = 0;
        EXPECT_EQ(getLine(crs, pos), "x");
        EXPECT_EQ(getLine(crs, pos), "");
        EXPECT_EQ(getLine(crs, pos), "y\rz");
        EXPECT_EQ(pos, static_cast<int>(crs.size()));
    }
}

}  // namespace
