#pragma once
// The sortable list's rules without its widgets: the order of two cell
// texts, the row records the list keeps for sorting, the headings text
// "title,width;title,width", the saved column widths and the sort arrow.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "console/logic/toolkit/ToolkitGeometry.h"

// What a cell text is taken for when rows are sorted.
enum class SortTextClass {
  Number,  // only digits and "." (an empty text counts): its integer part
  Date,    // dd/mm/yyyy, exactly 10 characters
  Text,    // anything else, compared byte by byte
};
SortTextClass ClassifySortText(const std::string& text);

// -1, 0 or 1. A strict weak order over all texts: numbers first, then
// dates, then other texts; numbers by the value of their integer part (of
// any length), dates by year, month and day, texts as byte strings.
int CompareSortTexts(const std::string& a, const std::string& b);

// The copy of a row's texts (column 0 first) and the caller's value.
struct SortRowRecord {
  std::vector<std::string> texts;
  uint32_t data = 0;
  // The column's text, "" for a column the row has no text for.
  const std::string& Text(int column) const;
};
// Whether row a goes before row b; descending is the exact reverse.
bool SortRowsBefore(const SortRowRecord& a, const SortRowRecord& b, int column, bool ascending);
// The order of rows after sorting by the column: result[i] is the index in
// rows of the row that goes at place i (rows that compare equal keep their
// order).
std::vector<size_t> SortRowOrder(const std::vector<SortRowRecord>& rows, int column,
                                 bool ascending);

// A header click: a new column sorts ascending, the same column flips.
struct SortState {
  int column = -1;
  bool ascending = true;
};
SortState NextSortState(const SortState& now, int clickedColumn);

// "title,width;title,width": the columns in order. Parsing stops at the
// first pair without a comma (ok false); empty pairs are skipped.
struct HeadingColumn {
  std::string title;
  int width = 0;
};
struct ParsedHeadings {
  std::vector<HeadingColumn> columns;
  bool ok = true;
};
ParsedHeadings ParseHeadings(const std::string& text);

// The saved widths: a 32-bit count, then one 32-bit width per column, little
// endian.
std::vector<uint8_t> EncodeColumnWidths(const std::vector<int>& widths);
// The widths when the blob has exactly the size its count gives, the count
// equals expectedCount and no width is negative; else nothing.
std::optional<std::vector<int>> DecodeColumnWidths(const std::vector<uint8_t>& blob,
                                                   int expectedCount);

// The sort arrow of a header item: the room it takes at the right and the
// two lines in the button-highlight colour and the two in the shadow colour.
struct SortArrowLines {
  int reserved = 0;                 // 3 x offset, taken from the text's room
  std::vector<TkPoint> highlight;   // a polyline
  std::vector<TkPoint> shadow;      // a polyline
};
SortArrowLines ComputeSortArrow(const TkRect& item, bool ascending);
