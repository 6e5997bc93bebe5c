// The sortable list's comparator, row order, headings, saved widths and arrow.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "console/logic/toolkit/SortListRules.h"

namespace {

TEST(SortTextTest, Classes) {
  struct Case {
    const char* text;
    SortTextClass cls;
  } cases[] = {
      {"", SortTextClass::Number},          {"10", SortTextClass::Number},
      {"1.5", SortTextClass::Number},       {"...", SortTextClass::Number},
      {"01/02/2015", SortTextClass::Date},  {"1/02/2015", SortTextClass::Text},
      {"01-02-2015", SortTextClass::Text},  {"01/02/201x", SortTextClass::Text},
      {"01/02/20150", SortTextClass::Text}, {"-1", SortTextClass::Text},
      {" 1", SortTextClass::Text},          {"abc", SortTextClass::Text},
      {"直播", SortTextClass::Text},
  };
  for (const auto& c : cases) EXPECT_EQ(ClassifySortText(c.text), c.cls) << c.text;
}

TEST(SortTextTest, Comparisons) {
  struct Case {
    const char* a;
    const char* b;
    int want;
  } cases[] = {
      {"9", "10", -1},
      {"100", "10", 1},
      {"007", "7", 0},
      {"1.9", "1.2", 0},  // the integer part decides
      {"", "0", 0},
      {"99999999999999999999999", "99999999999999999999998", 1},  // no overflow
      {"4294967296", "1", 1},
      {"31/12/2014", "01/02/2015", -1},
      {"02/01/2015", "01/02/2015", -1},  // month before day
      {"01/02/2015", "01/02/2015", 0},
      {"abc", "abd", -1},
      {"B", "a", -1},
      {"5", "01/01/2000", -1},  // numbers, then dates, then texts
      {"01/01/2000", "a", -1},
      {"zzz", "1", 1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CompareSortTexts(c.a, c.b), c.want) << c.a << " vs " << c.b;
    EXPECT_EQ(CompareSortTexts(c.b, c.a), -c.want) << c.b << " vs " << c.a;
  }
}

std::string RandomText(std::mt19937& rng) {
  static const char* pool[] = {"", "0", "00", "9", "10", "100", "1.5", "1.2", ".", "..",
                               "99999999999999999999", "01/02/2015", "31/12/2014",
                               "01/02/2014", "00/00/0000", "abc", "Abc", "a", "10a",
                               "1/2/2015", "直播", "-3"};
  std::uniform_int_distribution<int> pick(0, static_cast<int>(std::size(pool)) - 1);
  std::uniform_int_distribution<int> kind(0, 3);
  std::uniform_int_distribution<int> digit(0, 9);
  switch (kind(rng)) {
    case 0:
      return pool[pick(rng)];
    case 1: {  // a number, sometimes with a fraction or leading zeros
      std::string s;
      for (int i = digit(rng) % 25; i >= 0; --i) s += static_cast<char>('0' + digit(rng));
      if (digit(rng) < 3) s += "." + std::to_string(digit(rng));
      return s;
    }
    case 2: {  // a date
      char buf[48];
      std::snprintf(buf, sizeof buf, "%02d/%02d/%04d", digit(rng) * 3, digit(rng) + 1,
                    2000 + digit(rng));
      return buf;
    }
    default: {
      std::string s;
      for (int i = digit(rng) % 4; i >= 0; --i) s += static_cast<char>("0a/.Z 9"[digit(rng) % 7]);
      return s;
    }
  }
}

TEST(SortTextTest, StrictWeakOrderOnRandomMixedTexts) {
  std::mt19937 rng(20261210);
  std::vector<std::string> texts;
  for (int i = 0; i < 120; ++i) texts.push_back(RandomText(rng));
  auto less = [](const std::string& a, const std::string& b) { return CompareSortTexts(a, b) < 0; };
  auto equiv = [&](const std::string& a, const std::string& b) { return !less(a, b) && !less(b, a); };
  for (const auto& a : texts) {
    ASSERT_FALSE(less(a, a)) << a;  // irreflexive
    for (const auto& b : texts) {
      ASSERT_EQ(CompareSortTexts(a, b), -CompareSortTexts(b, a)) << a << " | " << b;
      if (less(a, b)) {
        ASSERT_FALSE(less(b, a)) << a << " | " << b;  // asymmetric
      }
      for (const auto& c : texts) {
        if (less(a, b) && less(b, c)) {
          ASSERT_TRUE(less(a, c)) << a << " | " << b << " | " << c;
        }
        if (equiv(a, b) && equiv(b, c)) {
          ASSERT_TRUE(equiv(a, c)) << a << " | " << b << " | " << c;
        }
      }
    }
  }
}

TEST(SortRowsTest, OrdersByTheColumnAndReverses) {
  std::vector<SortRowRecord> rows = {
      {{"a", "10"}, 1}, {{"b", "9"}, 2}, {{"c", "100"}, 3}, {{"d"}, 4},  // d has no column 1
  };
  std::vector<uint32_t> got;
  for (size_t i : SortRowOrder(rows, 1, true)) got.push_back(rows[i].data);
  EXPECT_EQ(got, (std::vector<uint32_t>{4, 2, 1, 3}));  // "" counts as 0
  got.clear();
  for (size_t i : SortRowOrder(rows, 1, false)) got.push_back(rows[i].data);
  EXPECT_EQ(got, (std::vector<uint32_t>{3, 1, 2, 4}));

  std::vector<SortRowRecord> dates = {{{"01/02/2015"}, 1}, {{"31/12/2014"}, 2}};
  got.clear();
  for (size_t i : SortRowOrder(dates, 0, true)) got.push_back(dates[i].data);
  EXPECT_EQ(got, (std::vector<uint32_t>{2, 1}));

  // Equal texts keep their order in both directions.
  std::vector<SortRowRecord> same = {{{"x"}, 1}, {{"x"}, 2}, {{"x"}, 3}};
  got.clear();
  for (size_t i : SortRowOrder(same, 0, false)) got.push_back(same[i].data);
  EXPECT_EQ(got, (std::vector<uint32_t>{1, 2, 3}));
}

TEST(SortRowsTest, RandomRowsSortConsistently) {
  std::mt19937 rng(7);
  std::vector<SortRowRecord> rows;
  for (uint32_t i = 0; i < 2000; ++i) rows.push_back({{RandomText(rng), RandomText(rng)}, i});
  for (bool asc : {true, false}) {
    const auto order = SortRowOrder(rows, 0, asc);
    for (size_t i = 1; i < order.size(); ++i) {
      ASSERT_FALSE(SortRowsBefore(rows[order[i]], rows[order[i - 1]], 0, asc)) << i;
    }
  }
}

TEST(SortStateTest, NewColumnAscendsSameColumnFlips) {
  SortState s;
  s = NextSortState(s, 2);
  EXPECT_EQ(s.column, 2);
  EXPECT_TRUE(s.ascending);
  s = NextSortState(s, 2);
  EXPECT_FALSE(s.ascending);
  s = NextSortState(s, 2);
  EXPECT_TRUE(s.ascending);
  s = NextSortState({1, false}, 0);
  EXPECT_EQ(s.column, 0);
  EXPECT_TRUE(s.ascending);
}

TEST(HeadingsTest, Parsing) {
  struct Case {
    const char* text;
    std::vector<std::pair<std::string, int>> cols;
    bool ok;
  } cases[] = {
      {"名称,120;地址,200", {{"名称", 120}, {"地址", 200}}, true},
      {"A,10;", {{"A", 10}}, true},
      {"A,10;;B,20", {{"A", 10}, {"B", 20}}, true},
      {"", {}, true},
      {"A,x", {{"A", 0}}, true},
      {"A,10;B;C,30", {{"A", 10}}, false},  // stops at the pair without a comma
      {",5", {{"", 5}}, true},
      {"A,99999999999999999999", {{"A", 1000000}}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const ParsedHeadings h = ParseHeadings(c.text);
    EXPECT_EQ(h.ok, c.ok);
    ASSERT_EQ(h.columns.size(), c.cols.size());
    for (size_t i = 0; i < c.cols.size(); ++i) {
      EXPECT_EQ(h.columns[i].title, c.cols[i].first);
      EXPECT_EQ(h.columns[i].width, c.cols[i].second);
    }
  }
}

TEST(ColumnWidthsTest, BlobRoundTripsAndRefusals) {
  const std::vector<int> widths = {120, 0, 65535, 7};
  const auto blob = EncodeColumnWidths(widths);
  ASSERT_EQ(blob.size(), 20u);
  EXPECT_EQ(blob[0], 4);  // the count, little endian
  EXPECT_EQ(blob[4], 120);
  EXPECT_EQ(DecodeColumnWidths(blob, 4), widths);
  EXPECT_EQ(DecodeColumnWidths(EncodeColumnWidths({}), 0), std::vector<int>{});

  struct Case {
    const char* what;
    std::vector<uint8_t> blob;
    int expected;
  } bad[] = {
      {"another column count", blob, 3},
      {"short", std::vector<uint8_t>(blob.begin(), blob.end() - 1), 4},
      {"long", [&] { auto b = blob; b.push_back(0); return b; }(), 4},
      {"empty", {}, 0},
      {"count without widths", {4, 0, 0, 0}, 4},
      {"huge count", {0xFF, 0xFF, 0xFF, 0x7F}, 0x7FFFFFFF},
      {"negative count", {0xFF, 0xFF, 0xFF, 0xFF}, -1},
      {"negative width", EncodeColumnWidths({10, -5}), 2},
  };
  for (const auto& c : bad) EXPECT_FALSE(DecodeColumnWidths(c.blob, c.expected)) << c.what;
}

TEST(SortArrowTest, TriangleCoordinates) {
  const TkRect item{100, 0, 200, 20};  // offset 5
  const SortArrowLines up = ComputeSortArrow(item, true);
  EXPECT_EQ(up.reserved, 15);
  EXPECT_EQ(up.highlight, (std::vector<TkPoint>{{190, 5}, {195, 14}, {183, 14}}));
  EXPECT_EQ(up.shadow, (std::vector<TkPoint>{{184, 14}, {190, 4}}));
  const SortArrowLines down = ComputeSortArrow(item.Offset(0, 10), false);
  EXPECT_EQ(down.highlight, (std::vector<TkPoint>{{194, 15}, {189, 25}}));
  EXPECT_EQ(down.shadow, (std::vector<TkPoint>{{188, 25}, {184, 15}, {194, 15}}));
  for (const auto& p : up.highlight) EXPECT_TRUE(item.Contains(p));
}

}  // namespace
