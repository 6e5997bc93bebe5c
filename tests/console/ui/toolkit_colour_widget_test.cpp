// The colour picker's signals through its popup: keys, mouse, Esc, a close
// from outside, switching programs and the colour dialog.
#include <gtest/gtest.h>

#include <QColorDialog>
#include <QGuiApplication>
#include <QVBoxLayout>
#include <string>
#include <vector>

#include "console/ui/toolkit/ColourPicker.h"
#include "tests/console/ui/ToolkitEvents.h"
#include "tests/tools/TestUtil.h"

using vvconsole::CColourPicker;
using vvconsole::CColourPopup;

namespace {

// Every signal of the picker, in the order it came.
struct Log {
  std::vector<std::string> names;
  std::vector<QColor> colours;
  void Connect(CColourPicker* p) {
    auto add = [this, p](const char* name) {
      return [this, p, name](const QColor& c, int id) {
        EXPECT_EQ(id, p->Id());
        names.push_back(name);
        colours.push_back(c);
      };
    };
    QObject::connect(p, &CColourPicker::selectionChanged, add("changed"));
    QObject::connect(p, &CColourPicker::dropDown, add("drop"));
    QObject::connect(p, &CColourPicker::closeUp, add("close"));
    QObject::connect(p, &CColourPicker::selectionEndedOk, add("ok"));
    QObject::connect(p, &CColourPicker::selectionCancelled, add("cancel"));
  }
  void Clear() {
    names.clear();
    colours.clear();
  }
};

QColor Table(int i) { return vvconsole::ColourRefToQColor(PopupColourTable()[i].colour); }

class ColourPickerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window_.resize(300, 200);
    auto* lay = new QVBoxLayout(&window_);
    picker_ = new CColourPicker(1301, &window_);
    lay->addWidget(picker_);
    lay->addStretch();
    log_.Connect(picker_);
    window_.show();
  }
  CColourPopup* Open() {
    picker_->click();
    return picker_->Popup();
  }
  QWidget window_;
  CColourPicker* picker_ = nullptr;
  Log log_;
};

TEST_F(ColourPickerTest, KeysWalkTheGridAndEnterEndsWithOk) {
  picker_->SetColour(Table(16));  // red
  CColourPopup* popup = Open();
  ASSERT_NE(popup, nullptr);
  EXPECT_TRUE(popup->isVisible());
  EXPECT_TRUE(picker_->IsActive());
  EXPECT_EQ(popup->CurrentCell(), 16);
  EXPECT_EQ(log_.names, (std::vector<std::string>{"drop"}));
  EXPECT_EQ(log_.colours[0], Table(16));
  log_.Clear();

  vvtoolkit::Key(popup, Qt::Key_Right);
  vvtoolkit::Key(popup, Qt::Key_Down);
  EXPECT_EQ(popup->CurrentCell(), 25);
  EXPECT_EQ(picker_->GetColour(), Table(16));  // no tracking: the button still shows red
  vvtoolkit::Key(popup, Qt::Key_Return);
  EXPECT_EQ(log_.names, (std::vector<std::string>{"changed", "changed", "close", "ok", "changed"}));
  EXPECT_EQ(log_.colours.back(), Table(25));
  EXPECT_EQ(picker_->GetColour(), Table(25));
  EXPECT_FALSE(picker_->IsActive());
  ASSERT_TRUE(vvtest::WaitFor([&] {
    QApplication::processEvents();
    return picker_->Popup() == nullptr;
  }, std::chrono::seconds(10)));
}

TEST_F(ColourPickerTest, OkOnTheShownColourSendsNoSelectionChange) {
  picker_->SetColour(Table(3));
  CColourPopup* popup = Open();
  log_.Clear();
  vvtoolkit::Key(popup, Qt::Key_Space);
  EXPECT_EQ(log_.names, (std::vector<std::string>{"close", "ok"}));
}

TEST_F(ColourPickerTest, EscRestoresTheFirstColourUnderTracking) {
  picker_->SetTrackSelection(true);
  picker_->SetColour(Table(0));
  CColourPopup* popup = Open();
  log_.Clear();
  vvtoolkit::Key(popup, Qt::Key_Left);  // from cell 0 to the default box
  EXPECT_EQ(popup->CurrentCell(), kCellDefault);
  EXPECT_FALSE(picker_->GetColour().isValid());  // shows automatic
  vvtoolkit::Key(popup, Qt::Key_Escape);
  EXPECT_EQ(log_.names, (std::vector<std::string>{"changed", "close", "cancel"}));
  EXPECT_EQ(log_.colours.back(), QColor(Qt::black));
  EXPECT_EQ(picker_->GetColour(), QColor(Qt::black));
}

TEST_F(ColourPickerTest, AutomaticIsKeptApartFromBlack) {
  picker_->SetColour(QColor());  // automatic
  CColourPopup* popup = Open();
  EXPECT_EQ(popup->CurrentCell(), kCellDefault);
  log_.Clear();
  vvtoolkit::Key(popup, Qt::Key_Down);  // cell 0: black
  vvtoolkit::Key(popup, Qt::Key_Return);
  ASSERT_FALSE(log_.colours.empty());
  EXPECT_TRUE(log_.colours.back().isValid());
  EXPECT_EQ(picker_->GetColour(), QColor(Qt::black));
  EXPECT_EQ(log_.names.back(), "changed");  // black differs from automatic

  popup = Open();
  EXPECT_EQ(popup->CurrentCell(), 0);  // black opens on the black cell
  log_.Clear();
  vvtoolkit::Key(popup, Qt::Key_Up);  // to the default box
  vvtoolkit::Key(popup, Qt::Key_Return);
  EXPECT_FALSE(picker_->GetColour().isValid());
  EXPECT_EQ(log_.names, (std::vector<std::string>{"changed", "close", "ok", "changed"}));
  EXPECT_FALSE(log_.colours.back().isValid());
}

TEST_F(ColourPickerTest, MouseChoosesAndReleaseOutsideCancels) {
  picker_->SetColour(Table(39));
  CColourPopup* popup = Open();
  log_.Clear();
  const QPoint cell5 = popup->CellRect(5).center();
  vvtoolkit::Move(popup, cell5);
  EXPECT_EQ(popup->CurrentCell(), 5);
  vvtoolkit::Move(popup, cell5 + QPoint(1, 1));  // same cell: no second notice
  vvtoolkit::Release(popup, cell5);
  EXPECT_EQ(log_.names, (std::vector<std::string>{"changed", "close", "ok", "changed"}));
  EXPECT_EQ(picker_->GetColour(), Table(5));

  popup = Open();
  log_.Clear();
  vvtoolkit::Move(popup, popup->CellRect(9).center());
  vvtoolkit::Release(popup, QPoint(-20, -20));
  EXPECT_EQ(log_.names, (std::vector<std::string>{"changed", "close", "cancel"}));
  EXPECT_EQ(log_.colours.back(), Table(5));
  EXPECT_EQ(picker_->GetColour(), Table(5));
}

TEST_F(ColourPickerTest, ClosingFromOutsideAndLeavingTheProgramCancel) {
  picker_->SetColour(Table(12));
  CColourPopup* popup = Open();
  log_.Clear();
  popup->close();  // what a press outside the popup does
  EXPECT_EQ(log_.names, (std::vector<std::string>{"close", "cancel"}));
  EXPECT_EQ(log_.colours.back(), Table(12));

  popup = Open();
  vvtoolkit::Key(popup, Qt::Key_Down);
  log_.Clear();
  emit qGuiApp->applicationStateChanged(Qt::ApplicationInactive);
  EXPECT_EQ(log_.names, (std::vector<std::string>{"close", "cancel"}));
  EXPECT_EQ(picker_->GetColour(), Table(12));
  EXPECT_FALSE(picker_->IsActive());
}

TEST_F(ColourPickerTest, WithoutADefaultTextTheGridStartsAtTheTop) {
  picker_->SetDefaultText(QString());
  picker_->SetColour(QColor());
  CColourPopup* popup = Open();
  EXPECT_FALSE(popup->Layout().HasDefault());
  EXPECT_EQ(popup->CellRect(0).top(), popup->Layout().Margin());
  EXPECT_EQ(popup->CurrentCell(), kCellCustom);  // automatic has no box to show it
  for (int key : {Qt::Key_Up, Qt::Key_Left, Qt::Key_Down, Qt::Key_Right, Qt::Key_Up}) {
    vvtoolkit::Key(popup, key);
    EXPECT_NE(popup->CurrentCell(), kCellDefault);
  }
  vvtoolkit::Key(popup, Qt::Key_Escape);
}

TEST_F(ColourPickerTest, MoreColoursOpensTheDialogAfterHidingThePopup) {
  picker_->SetColour(Table(1));
  CColourPopup* popup = Open();
  vvtoolkit::Key(popup, Qt::Key_Up);  // from row 0 to the default box
  vvtoolkit::Key(popup, Qt::Key_Up);  // and on to the custom box
  ASSERT_EQ(popup->CurrentCell(), kCellCustom);
  log_.Clear();
  bool popupHidden = false;
  QColor initialInDialog;
  vvtoolkit::WhenModal<QColorDialog>([&](QColorDialog* dlg) {
    popupHidden = !popup->isVisible();
    initialInDialog = dlg->currentColor();
    dlg->setCurrentColor(QColor(1, 2, 3));
    dlg->accept();
  });
  vvtoolkit::Key(popup, Qt::Key_Return);
  EXPECT_TRUE(popupHidden);
  EXPECT_EQ(initialInDialog, Table(1));
  EXPECT_EQ(log_.names, (std::vector<std::string>{"close", "ok", "changed"}));
  EXPECT_EQ(picker_->GetColour(), QColor(1, 2, 3));
}

TEST_F(ColourPickerTest, CancellingTheColourDialogCancelsTheChoice) {
  picker_->SetColour(QColor(9, 9, 9));  // not in the table: opens on the custom box
  CColourPopup* popup = Open();
  ASSERT_EQ(popup->CurrentCell(), kCellCustom);
  log_.Clear();
  vvtoolkit::WhenModal<QColorDialog>([](QColorDialog* dlg) { dlg->reject(); });
  vvtoolkit::Key(popup, Qt::Key_Return);
  EXPECT_EQ(log_.names, (std::vector<std::string>{"close", "cancel"}));
  EXPECT_EQ(log_.colours.back(), QColor(9, 9, 9));
  EXPECT_EQ(picker_->GetColour(), QColor(9, 9, 9));
}

TEST_F(ColourPickerTest, SelectionModeOneSetsTheTextColour) {
  picker_->SetBkColour(Table(7));
  picker_->SetTextColour(Table(8));
  picker_->SetSelectionMode(1);
  EXPECT_EQ(picker_->GetColour(), Table(8));
  CColourPopup* popup = Open();
  EXPECT_EQ(popup->CurrentCell(), 8);
  vvtoolkit::Key(popup, Qt::Key_Right);
  vvtoolkit::Key(popup, Qt::Key_Return);
  EXPECT_EQ(picker_->GetTextColour(), Table(9));
  EXPECT_EQ(picker_->GetBkColour(), Table(7));
}

TEST(ColourPickerSizeTest, ButtonIsAtLeastTwoArrowsWide) {
  CColourPicker p(5);
  EXPECT_EQ(p.objectName(), "5");
  EXPECT_GE(p.minimumSizeHint().width(), 2 * 2 + 2 * 10);
  EXPECT_EQ(p.GetBkColour(), p.palette().color(QPalette::Button));
  EXPECT_EQ(p.DefaultText(), "Automatic");
  EXPECT_EQ(p.CustomText(), "More Colours...");
}

}  // namespace
