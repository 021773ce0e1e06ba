#pragma once

#include <cstdint>
#include <string>

namespace playlist {

// The window's playlist list box: single selection, unsorted, a 32-bit item
// data value per item. Implemented by the window and by test fakes.
class ListBox {
 public:
  virtual ~ListBox() = default;
  virtual int Count() const = 0;
  virtual std::string Text(int index) const = 0;
  virtual std::int32_t ItemData(int index) const = 0;
  virtual void SetItemData(int index, std::int32_t data) = 0;
  // Inserts an item at `index` (Count() appends).
  virtual void InsertItem(int index, const std::string& text) = 0;
  virtual void RemoveItem(int index) = 0;
  virtual void Clear() = 0;
  // Selected index, or -1 when no item is selected.
  virtual int SelectedIndex() const = 0;
  virtual void Select(int index) = 0;
  virtual void SetFocus() = 0;
};

}  // namespace playlist
