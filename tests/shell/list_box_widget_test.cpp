#include "shell/list_box_widget.h"

#include <QListWidget>
#include <stdexcept>
#include <string>

#include "tests/shell/window_fixture.h"

namespace {

TEST(ListBoxWidgetTest, TextsKeepTheirBytesAndDataTravelsWithItsItem) {
  shelltest::TestApp();
  QListWidget widget;
  shell::ListBoxWidget list{widget};
  const std::string windows1252 = "Caf\xE9 \x93Live\x94";
  list.InsertItem(0, windows1252);
  list.InsertItem(1, "b");
  list.SetItemData(0, 7);
  list.SetItemData(1, -3);
  list.InsertItem(0, "new");
  EXPECT_EQ(list.Text(1), windows1252);
  EXPECT_EQ(widget.item(1)->text(), QString::fromUtf8("Caf\xC3\xA9 \xE2\x80\x9CLive\xE2\x80\x9D"));
  EXPECT_EQ(list.ItemData(0), 0);
  EXPECT_EQ(list.ItemData(1), 7);
  EXPECT_EQ(list.ItemData(2), -3);
  list.RemoveItem(1);
  EXPECT_EQ(list.Text(1), "b");
  EXPECT_EQ(list.ItemData(1), -3);

  // An index outside the list is an error, not a crash.
  EXPECT_THROW(list.Text(2), std::out_of_range);
  EXPECT_THROW(list.RemoveItem(5), std::out_of_range);
  EXPECT_THROW(list.InsertItem(3, "x"), std::out_of_range);
  EXPECT_THROW(list.Select(2), std::out_of_range);
  EXPECT_EQ(list.Count(), 2);
}

}  // namespace
