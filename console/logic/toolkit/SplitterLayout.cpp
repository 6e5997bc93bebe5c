#include "console/logic/toolkit/SplitterLayout.h"

#include <algorithm>

SplitterLayout::SplitterLayout(ISettingsStore* store, int id, int barWidth)
    : store_(store), id_(id), bar_(std::max(1, barWidth)) {}

std::string SplitterLayout::VerticalSection(int id) { return "splt/init_v" + std::to_string(id); }
std::string SplitterLayout::HorizontalSection(int id) { return "splt/init_h" + std::to_string(id); }

bool SplitterLayout::Create(int flags, int firstMin, int secondMin) {
  if (flags != kVertical && flags != kHorizontal) return false;
  firstMin_ = std::max(0, firstMin);
  secondMin_ = std::max(0, secondMin);
  style_ = flags;
  Load(flags);
  return true;
}

void SplitterLayout::Load(int direction) {
  if (direction == kVertical && !vertLoaded_) {
    vertPos_ = store_ ? store_->GetInt(VerticalSection(id_), "VertSplitPos", 2 * firstMin_)
                      : 2 * firstMin_;
    vertLoaded_ = true;
  } else if (direction == kHorizontal && !horizLoaded_) {
    horizPos_ = store_ ? store_->GetInt(HorizontalSection(id_), "HorizSplitPos", 2 * secondMin_)
                       : 2 * secondMin_;
    horizLoaded_ = true;
  }
}

void SplitterLayout::SetVertical() {
  if (style_ == 0) return;
  if (dragging_) Cancel();
  style_ = kVertical;
  Load(kVertical);
}

void SplitterLayout::SetHorizontal() {
  if (style_ == 0) return;
  if (dragging_) Cancel();
  style_ = kHorizontal;
  Load(kHorizontal);
}

int SplitterLayout::Extent() const {
  return std::max(0, style_ == kVertical ? client_.Width() : client_.Height());
}

int SplitterLayout::Measured() const {
  // A live drag moves the panes with the bar; otherwise only the tracker
  // follows the mouse until the release.
  if (dragging_ && live_) return dragPos_;
  return style_ == kVertical ? vertPos_ : horizPos_;
}

int SplitterLayout::Clamp(int measured) const {
  const int ownMin = style_ == kVertical ? firstMin_ : secondMin_;
  const int otherMin = style_ == kVertical ? secondMin_ : firstMin_;
  const int extent = Extent();
  int m = measured;
  m = std::min(m, extent - otherMin);
  m = std::max(m, ownMin);
  m = std::min(m, extent - bar_);
  m = std::max(m, 0);
  return m;
}

int SplitterLayout::MeasuredAt(TkPoint p) const {
  return style_ == kVertical ? p.x - client_.left : client_.bottom - p.y;
}

SplitterLayout::Panes SplitterLayout::Layout() const { return LayoutAt(Clamp(Measured())); }

SplitterLayout::Panes SplitterLayout::LayoutAt(int m) const {
  Panes out;
  if (style_ == 0) return out;
  const TkRect& c = client_;
  out.firstVisible = !firstHidden_;
  out.secondVisible = !secondHidden_;
  if (firstHidden_ || secondHidden_) {
    if (out.firstVisible) out.first = c;
    if (out.secondVisible) out.second = c;
    return out;
  }
  if (style_ == kVertical) {
    out.first = {c.left, c.top, c.left + m, c.bottom};
    const int centre = out.first.right + bar_ / 2;
    out.bar = {centre - bar_, c.top, centre + bar_, c.bottom};
    out.second = {std::min(out.first.right + bar_, c.right), c.top, c.right, c.bottom};
  } else {
    const int line = c.bottom - m - bar_ / 2;
    out.bar = {c.left, line - bar_, c.right, line + bar_};
    out.second = {c.left, c.bottom - m, c.right, c.bottom};
    out.first = {c.left, c.top, c.right, std::max(c.top, out.second.top - bar_)};
  }
  return out;
}

int SplitterLayout::GetSplitterPos() const {
  if (style_ == 0) return 0;
  const Panes p = Layout();
  if (firstHidden_ || secondHidden_) {
    return style_ == kVertical ? client_.left + Clamp(Measured())
                               : client_.bottom - Clamp(Measured());
  }
  return style_ == kVertical ? p.first.right : p.second.top;
}

void SplitterLayout::SetSplitterPos(int pos) {
  if (style_ == kVertical) {
    vertPos_ = pos - client_.left;
  } else if (style_ == kHorizontal) {
    horizPos_ = client_.bottom - pos;
  }
}

bool SplitterLayout::SetHidden(int direction, bool first, bool hide) {
  if (style_ != direction) return false;
  (first ? firstHidden_ : secondHidden_) = hide;
  if (hide && dragging_) Cancel();
  return true;
}

bool SplitterLayout::Press(TkPoint p) {
  if (style_ == 0 || dragging_) return false;
  const Panes panes = Layout();
  if (panes.bar.IsEmpty() || !panes.bar.Contains(p)) return false;
  dragStart_ = Clamp(Measured());
  dragPos_ = dragStart_;
  dragging_ = true;
  return true;
}

void SplitterLayout::Move(TkPoint p) {
  if (!dragging_) return;
  dragPos_ = Clamp(MeasuredAt(p));
}

TkRect SplitterLayout::TrackerRect() const {
  if (!dragging_) return {};
  return LayoutAt(dragPos_).bar;
}

void SplitterLayout::Release(TkPoint p) {
  if (!dragging_) return;
  const int m = Clamp(MeasuredAt(p));
  dragging_ = false;
  if (style_ == kVertical) {
    vertPos_ = m;
    if (store_) store_->SetInt(VerticalSection(id_), "VertSplitPos", m);
  } else {
    horizPos_ = m;
    if (store_) store_->SetInt(HorizontalSection(id_), "HorizSplitPos", m);
  }
}

void SplitterLayout::Cancel() {
  if (!dragging_) return;
  dragging_ = false;
}

void SplitterLayout::SaveOnDestroy() {
  if (!store_ || style_ == 0) return;
  if (dragging_) Cancel();
  // With a pane hidden the other one fills the client; what is kept is the
  // position the bar goes back to when the pane shows again.
  const bool bothShown = !firstHidden_ && !secondHidden_;
  const Panes p = Layout();
  if (style_ == kVertical) {
    if (bothShown && p.first.IsEmpty()) return;
    const int m = bothShown ? p.first.Width() : vertPos_;
    store_->SetInt(VerticalSection(id_), "VertSplitPos", m);
  } else {
    if (bothShown && p.second.IsEmpty()) return;
    const int m = bothShown ? p.second.Height() : horizPos_;
    store_->SetInt(HorizontalSection(id_), "HorizSplitPos", m);
  }
}
