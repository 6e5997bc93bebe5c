#include "console/logic/toolkit/SortListRules.h"

#include <algorithm>
#include <numeric>

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsDateText(const std::string& t) {
  if (t.size() != 10 || t[2] != '/' || t[5] != '/') return false;
  for (int i : {0, 1, 3, 4, 6, 7, 8, 9}) {
    if (!IsDigit(t[i])) return false;
  }
  return true;
}

// The integer part of a number text without its leading zeros: the digits
// before the first ".", so that "007.5" and "7" are the same value.
std::string IntegerDigits(const std::string& t) {
  const size_t end = std::min(t.find('.'), t.size());
  size_t begin = 0;
  while (begin < end && t[begin] == '0') ++begin;
  return t.substr(begin, end - begin);
}

int CompareNumbers(const std::string& a, const std::string& b) {
  const std::string x = IntegerDigits(a);
  const std::string y = IntegerDigits(b);
  if (x.size() != y.size()) return x.size() < y.size() ? -1 : 1;
  const int c = x.compare(y);
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

int DatePart(const std::string& t, size_t pos, size_t len) { return std::stoi(t.substr(pos, len)); }

int CompareDates(const std::string& a, const std::string& b) {
  static const size_t kParts[3][2] = {{6, 4}, {3, 2}, {0, 2}};  // year, month, day
  for (const auto& p : kParts) {
    const int x = DatePart(a, p[0], p[1]);
    const int y = DatePart(b, p[0], p[1]);
    if (x != y) return x < y ? -1 : 1;
  }
  return 0;
}

}  // namespace

SortTextClass ClassifySortText(const std::string& text) {
  if (std::all_of(text.begin(), text.end(), [](char c) { return IsDigit(c) || c == '.'; }))
    return SortTextClass::Number;
  if (IsDateText(text)) return SortTextClass::Date;
  return SortTextClass::Text;
}

int CompareSortTexts(const std::string& a, const std::string& b) {
  const SortTextClass ca = ClassifySortText(a);
  const SortTextClass cb = ClassifySortText(b);
  if (ca != cb) return static_cast<int>(ca) < static_cast<int>(cb) ? -1 : 1;
  switch (ca) {
    case SortTextClass::Number:
      return CompareNumbers(a, b);
    case SortTextClass::Date:
      return CompareDates(a, b);
    case SortTextClass::Text:
      break;
  }
  const int c = a.compare(b);
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

const std::string& SortRowRecord::Text(int column) const {
  static const std::string kEmpty;
  if (column < 0 || static_cast<size_t>(column) >= texts.size()) return kEmpty;
  return texts[column];
}

bool SortRowsBefore(const SortRowRecord& a, const SortRowRecord& b, int column, bool ascending) {
  const int c = CompareSortTexts(a.Text(column), b.Text(column));
  return ascending ? c < 0 : c > 0;
}

std::vector<size_t> SortRowOrder(const std::vector<SortRowRecord>& rows, int column,
                                 bool ascending) {
  std::vector<size_t> order(rows.size());
  std::iota(order.begin(), order.end(), size_t{0});
  std::stable_sort(order.begin(), order.end(), [&](size_t x, size_t y) {
    return SortRowsBefore(rows[x], rows[y], column, ascending);
  });
  return order;
}

SortState NextSortState(const SortState& now, int clickedColumn) {
  if (clickedColumn == now.column) return {clickedColumn, !now.ascending};
  return {clickedColumn, true};
}

ParsedHeadings ParseHeadings(const std::string& text) {
  ParsedHeadings out;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(';', start);
    if (end == std::string::npos) end = text.size();
    const std::string pair = text.substr(start, end - start);
    start = end + 1;
    if (pair.empty()) continue;
    const size_t comma = pair.find(',');
    if (comma == std::string::npos) {
      out.ok = false;
      break;
    }
    HeadingColumn col;
    col.title = pair.substr(0, comma);
    // The width as atoi reads it: leading digits, 0 when there are none,
    // held to a sane range instead of overflowing.
    const std::string w = pair.substr(comma + 1);
    size_t i = 0;
    while (i < w.size() && (w[i] == ' ' || w[i] == '\t')) ++i;
    long long value = 0;
    while (i < w.size() && IsDigit(w[i]) && value < 1000000) value = value * 10 + (w[i++] - '0');
    col.width = static_cast<int>(std::min<long long>(value, 1000000));
    out.columns.push_back(col);
  }
  return out;
}

std::vector<uint8_t> EncodeColumnWidths(const std::vector<int>& widths) {
  std::vector<uint8_t> out;
  auto put = [&out](uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
  };
  put(static_cast<uint32_t>(widths.size()));
  for (int w : widths) put(static_cast<uint32_t>(w));
  return out;
}

std::optional<std::vector<int>> DecodeColumnWidths(const std::vector<uint8_t>& blob,
                                                   int expectedCount) {
  auto get = [&blob](size_t at) {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(blob[at + i]) << (8 * i);
    return static_cast<int32_t>(v);
  };
  if (blob.size() < 4 || expectedCount < 0) return std::nullopt;
  const int32_t count = get(0);
  if (count != expectedCount) return std::nullopt;
  if (blob.size() != 4 + 4 * static_cast<size_t>(count)) return std::nullopt;
  std::vector<int> widths;
  for (int32_t i = 0; i < count; ++i) {
    const int32_t w = get(4 + 4 * static_cast<size_t>(i));
    if (w < 0) return std::nullopt;
    widths.push_back(w);
  }
  return widths;
}

SortArrowLines ComputeSortArrow(const TkRect& item, bool ascending) {
  const int r = item.right;
  const int b = item.bottom;
  const int off = item.Height() / 4;
  const int t = item.top;
  SortArrowLines a;
  a.reserved = 3 * off;
  if (ascending) {
    a.highlight = {{r - 2 * off, t + off}, {r - off, b - off - 1}, {r - 3 * off - 2, b - off - 1}};
    a.shadow = {{r - 3 * off - 1, b - off - 1}, {r - 2 * off, t + off - 1}};
  } else {
    a.highlight = {{r - off - 1, t + off}, {r - 2 * off - 1, b - off}};
    a.shadow = {{r - 2 * off - 2, b - off}, {r - 3 * off - 1, t + off}, {r - off - 1, t + off}};
  }
  return a;
}
