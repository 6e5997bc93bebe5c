// The sortable list on a real tree widget: header clicks, row records,
// saved widths, and the program's profile store.
#include <gtest/gtest.h>

#include <QSettings>
#include <vector>

#include "console/ui/toolkit/SortListCtrl.h"
#include "console/ui/toolkit/ToolkitStore.h"
#include "tests/console/ui/ToolkitEvents.h"
#include "tests/tools/TestUtil.h"

using vvconsole::CSortListCtrl;

namespace {

QStringList Column(const CSortListCtrl& list, int column) {
  QStringList out;
  for (int r = 0; r < list.RowCount(); ++r) out << list.ItemText(r, column);
  return out;
}

void ClickHeader(CSortListCtrl& list, int column) {
  auto* h = list.SortHeader();
  const QPoint at(h->sectionViewportPosition(column) + h->sectionSize(column) / 2,
                  h->height() / 2);
  vvtoolkit::Click(h->viewport(), at);
}

class SortListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    list_ = std::make_unique<CSortListCtrl>(1401, nullptr, &store_);
    ASSERT_TRUE(list_->SetHeadings("名称,120;码率,60;日期,90"));
    list_->resize(400, 300);
    list_->show();
    list_->AddItem({"camera", "10", "01/02/2015"});
    list_->SetItemData(0, 100);
    list_->AddItem({"Beta", "9", "31/12/2014"});
    list_->SetItemData(1, 90);
    list_->AddItem({"alpha", "100", "15/06/2014"});
    list_->SetItemData(2, 1000);
  }
  MemorySettingsStore store_;
  std::unique_ptr<CSortListCtrl> list_;
};

TEST_F(SortListTest, HeadingsMakeTheColumns) {
  EXPECT_EQ(list_->ColumnCount(), 3);
  EXPECT_EQ(list_->headerItem()->text(0), "名称");
  EXPECT_EQ(list_->SortHeader()->sectionSize(1), 60);
  EXPECT_EQ(list_->objectName(), "1401");
  EXPECT_FALSE(list_->SetHeadings("备注,50;坏"));
  EXPECT_EQ(list_->ColumnCount(), 4);  // the pair before the bad one was added
  list_->DeleteAllColumns();
  EXPECT_EQ(list_->ColumnCount(), 0);
  EXPECT_TRUE(list_->SetHeadings("A,10"));
  EXPECT_EQ(list_->ColumnCount(), 1);
}

TEST_F(SortListTest, HeaderClicksSortAndFlip) {
  ClickHeader(*list_, 1);
  EXPECT_EQ(Column(*list_, 1), (QStringList{"9", "10", "100"}));  // as numbers
  EXPECT_EQ(list_->SortColumn(), 1);
  EXPECT_TRUE(list_->SortAscending());
  EXPECT_EQ(list_->SortHeader()->SortColumn(), 1);
  ClickHeader(*list_, 1);
  EXPECT_EQ(Column(*list_, 1), (QStringList{"100", "10", "9"}));
  EXPECT_FALSE(list_->SortHeader()->SortAscending());
  ClickHeader(*list_, 2);  // a new column ascends
  EXPECT_EQ(Column(*list_, 2), (QStringList{"15/06/2014", "31/12/2014", "01/02/2015"}));
  EXPECT_TRUE(list_->SortAscending());
  ClickHeader(*list_, 0);
  EXPECT_EQ(Column(*list_, 0), (QStringList{"Beta", "alpha", "camera"}));  // byte order
  // The values go with their rows.
  EXPECT_EQ(list_->GetItemData(0), 90u);
  EXPECT_EQ(list_->GetItemData(2), 100u);
}

TEST_F(SortListTest, ShortRowsSortTheirMissingTextsAsEmpty) {
  list_->AddItem({"short", QString(), "ignored after the null text"});
  EXPECT_EQ(list_->ItemText(3, 2), "");
  list_->Sort(1, true);
  EXPECT_EQ(Column(*list_, 0).first(), "short");
  list_->Sort(2, false);
  EXPECT_EQ(Column(*list_, 0).last(), "short");
}

TEST_F(SortListTest, ANotifyHandlerTakesTheClicks) {
  std::vector<std::pair<int, int>> seen;
  list_->SetNotifyHandler([&](int id, int column) {
    seen.push_back({id, column});
    return 0L;
  });
  const QStringList before = Column(*list_, 0);
  ClickHeader(*list_, 1);
  EXPECT_EQ(seen, (std::vector<std::pair<int, int>>{{1401, 1}}));
  EXPECT_EQ(Column(*list_, 0), before);
  EXPECT_EQ(list_->SortColumn(), -1);
}

TEST_F(SortListTest, RowValuesAndDeletes) {
  EXPECT_FALSE(list_->SetItemData(3, 5));
  EXPECT_FALSE(list_->SetItemData(-1, 5));
  EXPECT_EQ(list_->GetItemData(3), 0u);
  EXPECT_TRUE(list_->DeleteItem(1));
  EXPECT_FALSE(list_->DeleteItem(5));
  EXPECT_EQ(Column(*list_, 0), (QStringList{"camera", "alpha"}));
  EXPECT_EQ(list_->GetItemData(1), 1000u);
  list_->DeleteAllItems();
  EXPECT_EQ(list_->RowCount(), 0);
  list_->Sort(0, true);  // nothing to sort
}

TEST_F(SortListTest, ColumnWidthsRoundTripThroughTheStore) {
  list_->SortHeader()->resizeSection(0, 77);
  list_->SortHeader()->resizeSection(2, 133);
  list_->SaveColumnInfo();
  const auto blob = store_.GetBinary("ListCtrls", "1401");
  ASSERT_TRUE(blob);
  EXPECT_EQ(blob->size(), 16u);

  CSortListCtrl again(1401, nullptr, &store_);
  again.SetHeadings("名称,10;码率,10;日期,10");
  again.LoadColumnInfo();
  EXPECT_EQ(again.SortHeader()->sectionSize(0), 77);
  EXPECT_EQ(again.SortHeader()->sectionSize(1), 60);
  EXPECT_EQ(again.SortHeader()->sectionSize(2), 133);

  // Saved with another column count, cut short, or for another list: the
  // widths stay.
  CSortListCtrl two(1401, nullptr, &store_);
  two.SetHeadings("A,11;B,12");
  two.LoadColumnInfo();
  EXPECT_EQ(two.SortHeader()->sectionSize(0), 11);
  store_.SetBinary("ListCtrls", "1401", std::vector<uint8_t>(blob->begin(), blob->end() - 2));
  again.SortHeader()->resizeSection(0, 5);
  again.LoadColumnInfo();
  EXPECT_EQ(again.SortHeader()->sectionSize(0), 5);
  CSortListCtrl other(1402, nullptr, &store_);
  other.SetHeadings("A,11;B,12;C,13");
  other.LoadColumnInfo();
  EXPECT_EQ(other.SortHeader()->sectionSize(2), 13);
}

TEST(QSettingsStoreTest, IntsAndBlobsSurviveInAnIniFile) {
  vvtest::TempDir dir("vvprofile");
  const QString file = QString::fromStdString(dir.file("profile.ini"));
  {
    vvconsole::QSettingsStore s(file);
    EXPECT_EQ(s.GetInt("splt/init_v3", "VertSplitPos", -7), -7);
    EXPECT_FALSE(s.GetBinary("ListCtrls", "12"));
    s.SetInt("splt/init_v3", "VertSplitPos", 250);
    s.SetBinary("ListCtrls", "12", {3, 0, 0, 0, 0xFF, 0, 0x80, 1});
    s.Sync();
  }
  vvconsole::QSettingsStore s(file);
  EXPECT_EQ(s.GetInt("splt/init_v3", "VertSplitPos", -7), 250);
  EXPECT_EQ(s.GetInt("splt/init_h3", "HorizSplitPos", 9), 9);
  EXPECT_EQ(s.GetBinary("ListCtrls", "12"),
            (std::vector<uint8_t>{3, 0, 0, 0, 0xFF, 0, 0x80, 1}));
  QSettings raw(file, QSettings::IniFormat);
  EXPECT_EQ(raw.value("splt/init_v3/VertSplitPos").toInt(), 250);
}

TEST(QSettingsStoreTest, TheToolkitStoreCanBeReplaced) {
  MemorySettingsStore mem;
  vvconsole::SetToolkitSettings(&mem);
  EXPECT_EQ(&vvconsole::ToolkitSettings(), &mem);
  {
    CSortListCtrl list(1500);
    list.SetHeadings("A,40");
    list.SaveColumnInfo();
  }
  EXPECT_TRUE(mem.Has("ListCtrls", "1500"));
  vvconsole::SetToolkitSettings(nullptr);
  EXPECT_NE(&vvconsole::ToolkitSettings(), &mem);
}

}  // namespace
