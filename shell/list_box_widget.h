#pragma once

#include <QListWidget>

#include "playlist/list_box.h"

namespace shell {

// lstPlayList as the playlist module sees it. The item data is kept in
// Qt::UserRole; the exact bytes of each text are kept beside the shown text,
// so a Windows-1252 title reads back unchanged and playlist.txt keeps it.
class ListBoxWidget final : public playlist::ListBox {
 public:
  explicit ListBoxWidget(QListWidget& list) : list_(list) {}

  int Count() const override;
  std::string Text(int index) const override;
  std::int32_t ItemData(int index) const override;
  void SetItemData(int index, std::int32_t data) override;
  void InsertItem(int index, const std::string& text) override;
  void RemoveItem(int index) override;
  void Clear() override;
  int SelectedIndex() const override;
  void Select(int index) override;
  void SetFocus() override;

 private:
  QListWidgetItem& ItemAt(int index) const;

  QListWidget& list_;
};

}  // namespace shell
