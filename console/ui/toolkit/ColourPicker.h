#pragma once
// The colour picker button (CColourPicker) and its drop-down grid of 40
// named colours (CColourPopup) with an optional "Automatic" box above and a
// "More Colours..." box below that opens the colour dialog.
//
// Colours travel as QColor; an invalid QColor stands for "automatic",
// which is never black.
#include <QColor>
#include <QPointer>
#include <QPushButton>
#include <QString>
#include <QWidget>

#include "console/logic/toolkit/ColourPickerRules.h"

namespace vvconsole {

// Automatic (0xFF000000) is an invalid QColor and back.
QColor ColourRefToQColor(ColourRef c);
ColourRef QColorToColourRef(const QColor& c);

class CColourPopup;

class CColourPicker : public QPushButton {
  Q_OBJECT
 public:
  explicit CColourPicker(int id, QWidget* parent = nullptr);
  ~CColourPicker() override;

  int Id() const { return id_; }
  // The text colour in selection mode 1, else the background colour.
  QColor GetColour() const;
  void SetColour(const QColor& c);
  QColor GetBkColour() const;
  void SetBkColour(const QColor& c);
  QColor GetTextColour() const;
  void SetTextColour(const QColor& c);
  int GetSelectionMode() const { return state_.SelectionMode(); }
  void SetSelectionMode(int mode) { state_.SetSelectionMode(mode); }
  bool GetTrackSelection() const { return state_.TrackSelection(); }
  void SetTrackSelection(bool on) { state_.SetTrackSelection(on); }
  // An empty text leaves its box out.
  void SetDefaultText(const QString& text) { defaultText_ = text; }
  void SetCustomText(const QString& text) { customText_ = text; }
  QString DefaultText() const { return defaultText_; }
  QString CustomText() const { return customText_; }

  bool IsActive() const { return state_.Active(); }
  // The open popup, null when none is open.
  CColourPopup* Popup() const { return popup_; }

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 signals:
  void selectionChanged(const QColor& colour, int id);
  void dropDown(const QColor& colour, int id);
  void closeUp(const QColor& colour, int id);
  void selectionEndedOk(const QColor& colour, int id);
  void selectionCancelled(const QColor& colour, int id);

 protected:
  void paintEvent(QPaintEvent* e) override;

 private slots:
  void OnClicked();
  void OnPopupHighlight(ColourRef colour);
  void OnPopupEnded(bool ok, ColourRef colour);

 private:
  void Send(const std::vector<ColourPickerState::Sent>& notes);
  PickerArrow Arrow() const;

  int id_;
  ColourPickerState state_;
  QString defaultText_;
  QString customText_;
  QPointer<CColourPopup> popup_;
};

class CColourPopup : public QWidget {
  Q_OBJECT
 public:
  // Opens at pos (screen) below the picker, which receives the result.
  CColourPopup(const QPoint& pos, ColourRef initial, CColourPicker* picker,
               const QString& defaultText, const QString& customText);
  ~CColourPopup() override;

  const ColourPopupLayout& Layout() const { return layout_; }
  int CurrentCell() const { return current_; }
  int ChosenCell() const { return chosen_; }
  ColourRef InitialColour() const { return initial_; }
  // The client rectangle of a cell or box.
  QRect CellRect(int cell) const;

 signals:
  void highlightChanged(ColourRef colour);
  // ok false: cancelled, colour the one the popup opened with.
  void ended(bool ok, ColourRef colour);

 protected:
  void paintEvent(QPaintEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void closeEvent(QCloseEvent* e) override;
  bool event(QEvent* e) override;

 private:
  void ChangeSelection(int cell);
  void EndSelection(bool ok);
  void DrawCell(QPainter& p, int cell);

  ColourRef initial_;
  ColourRef chosenColour_;
  QString defaultText_;
  QString customText_;
  ColourPopupLayout layout_;
  int current_ = kCellNone;
  int chosen_ = kCellNone;
  bool ended_ = false;
};

}  // namespace vvconsole
