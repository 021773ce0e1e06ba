#include <QListWidget>
#include <stdexcept>
#include <string>

#include "shell/list_box_widget.h"
#include "tests/shell/window_fixture.h"

namespace {

class ListBoxWidgetTest : public ::testing::Test {
 protected:
  QApplication& app = shelltest::TestApp();  // before any widget
  QListWidget widget;
  shell::ListBoxWidget list{widget};
};

TEST_F(ListBoxWidgetTest, TextsKeepTheirBytes) {
  const std::string windows1252 = "Caf\xE9 \x93Live\x94";
  list.InsertItem(0, windows1252);
  list.InsertItem(1, "Summer");
  EXPECT_EQ(list.Text(0), windows1252);
  EXPECT_EQ(widget.item(0)->text(), QString::fromUtf8("Caf\xC3\xA9 \xE2\x80\x9CLive\xE2\x80\x9D"));
  EXPECT_EQ(list.Count(), 2);
}

TEST_F(ListBoxWidgetTest, ItemDataTravelsWithItsItem) {
  list.InsertItem(0, "a");
  list.InsertItem(1, "b");
  list.SetItemData(0, 7);
  list.SetItemData(1, -3);
  list.InsertItem(0, "new");
  EXPECT_EQ(list.ItemData(0), 0);
  EXPECT_EQ(list.ItemData(1), 7);
  EXPECT_EQ(list.ItemData(2), -3);
  list.RemoveItem(1);
  EXPECT_EQ(list.Text(1), "b");
  EXPECT_EQ(list.ItemData(1), -3);
}

TEST_F(ListBoxWidgetTest, IndexOutsideTheListIsAnErrorNotACrash) {
  list.InsertItem(0, "a");
  EXPECT_THROW(list.Text(1), std::out_of_range);
  EXPECT_THROW(list.ItemData(-1), std::out_of_range);
  EXPECT_THROW(list.RemoveItem(5), std::out_of_range);
  EXPECT_THROW(list.InsertItem(3, "x"), std::out_of_range);
  EXPECT_THROW(list.Select(1), std::out_of_range);
  EXPECT_EQ(list.Count(), 1);
}

}  // namespace
