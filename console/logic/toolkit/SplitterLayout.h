#pragma once
// The splitter bar's layout without its widgets: two panes side by side
// with a vertical bar between them, or one above the other with a
// horizontal bar; the bar's drag; and the bar position kept in the settings
// store ("splt/init_v<id>" "VertSplitPos": the left pane's width;
// "splt/init_h<id>" "HorizSplitPos": the bottom pane's height).
//
// Every position the layout uses (stored, set, dragged or kept over a
// resize) is held in this order: first to leave the other pane its minimum,
// then to give the measured pane (left, or bottom) its own minimum, then
// into the client so that neither pane gets a negative size.
#include <string>

#include "console/logic/toolkit/ToolkitGeometry.h"
#include "console/logic/toolkit/ToolkitSettings.h"

class SplitterLayout {
 public:
  static constexpr int kVertical = 1;
  static constexpr int kHorizontal = 2;

  SplitterLayout(ISettingsStore* store, int id, int barWidth = 3);

  // Sets up one direction (kVertical or kHorizontal) with the minimum sizes
  // of the first (left or top) and second (right or bottom) pane and reads
  // the stored position. Other flags, and both at once (a third pane the
  // splitter does not have), are refused.
  bool Create(int flags, int firstMin, int secondMin);

  int Id() const { return id_; }
  int BarWidth() const { return bar_; }
  int Style() const { return style_; }  // kVertical, kHorizontal or 0
  bool LiveDrag() const { return live_; }
  void SetLiveDrag(bool on) { live_ = on; }

  void SetClient(const TkRect& client) { client_ = client; }
  TkRect Client() const { return client_; }

  // Switch the direction; the new one reads its stored position the first
  // time it is used and keeps its own position afterwards.
  void SetVertical();
  void SetHorizontal();

  // The left pane's right edge (vertical), the bottom pane's top
  // (horizontal), else 0.
  int GetSplitterPos() const;
  void SetSplitterPos(int pos);

  // Hiding a pane lets the other one take the whole client area. The left
  // and right pane exist in vertical mode, the bottom pane in horizontal
  // mode; false in the other mode.
  bool HideLeftPane() { return SetHidden(kVertical, true, true); }
  bool ShowLeftPane() { return SetHidden(kVertical, true, false); }
  bool HideRightPane() { return SetHidden(kVertical, false, true); }
  bool ShowRightPane() { return SetHidden(kVertical, false, false); }
  bool HideBottomPane() { return SetHidden(kHorizontal, false, true); }
  bool ShowBottomPane() { return SetHidden(kHorizontal, false, false); }
  bool FirstHidden() const { return firstHidden_; }
  bool SecondHidden() const { return secondHidden_; }

  struct Panes {
    TkRect first;   // left or top
    TkRect second;  // right or bottom
    TkRect bar;     // the bar's hit area; empty while a pane is hidden
    bool firstVisible = true;
    bool secondVisible = true;
  };
  Panes Layout() const;
  // The panes with the measured pane at this (held) size.
  Panes LayoutAt(int measured) const;

  // Dragging the bar. Press answers whether the point starts a drag.
  bool Press(TkPoint p);
  bool Dragging() const { return dragging_; }
  // The bar's rectangle at the dragged position (the tracker).
  void Move(TkPoint p);
  TkRect TrackerRect() const;
  // Release lays the panes out at the point and stores the position.
  void Release(TkPoint p);
  // Esc: the bar stays where it was before the drag.
  void Cancel();

  // The pane sizes written when the splitter goes away.
  void SaveOnDestroy();

  // The section names of the store for a splitter id.
  static std::string VerticalSection(int id);
  static std::string HorizontalSection(int id);

 private:
  int Extent() const;
  int Measured() const;            // the wanted size of the measured pane
  int Clamp(int measured) const;   // the rule stated above, in the active direction
  int MeasuredAt(TkPoint p) const;
  void Load(int direction);
  bool SetHidden(int direction, bool first, bool hide);

  ISettingsStore* store_;
  int id_;
  int bar_;
  int style_ = 0;
  int firstMin_ = 0;
  int secondMin_ = 0;
  bool vertLoaded_ = false;
  bool horizLoaded_ = false;
  int vertPos_ = 0;   // the left pane's width
  int horizPos_ = 0;  // the bottom pane's height
  bool firstHidden_ = false;
  bool secondHidden_ = false;
  bool live_ = false;
  bool dragging_ = false;
  int dragStart_ = 0;
  int dragPos_ = 0;
  TkRect client_;
};
