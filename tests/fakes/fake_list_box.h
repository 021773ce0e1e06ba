#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "playlist/list_box.h"

namespace fakes {

class FakeListBox : public playlist::ListBox {
 public:
  struct Item {
    std::string text;
    std::int32_t data = 0;
  };

  int Count() const override { return static_cast<int>(items.size()); }
  std::string Text(int i) const override { return items.at(i).text; }
  std::int32_t ItemData(int i) const override { return items.at(i).data; }
  void SetItemData(int i, std::int32_t d) override { items.at(i).data = d; }
  void InsertItem(int i, const std::string& text) override {
    items.insert(items.begin() + i, Item{text, 0});
    if (selected >= i) ++selected;
  }
  void RemoveItem(int i) override {
    items.erase(items.begin() + i);
    if (selected == i)
      selected = -1;
    else if (selected > i)
      --selected;
  }
  void Clear() override {
    items.clear();
    selected = -1;
  }
  int SelectedIndex() const override { return selected; }
  void Select(int i) override { selected = i; }
  void SetFocus() override { ++focusCount; }

  std::vector<Item> items;
  int selected = -1;
  int focusCount = 0;
};

}  // namespace fakes
