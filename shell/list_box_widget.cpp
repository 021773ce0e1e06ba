#include "shell/list_box_widget.h"

#include <QByteArray>
#include <stdexcept>

#include "platform/qt/qt_text.h"

namespace shell {
namespace {

constexpr int kBytesRole = Qt::UserRole + 1;

}  // namespace

QListWidgetItem& ListBoxWidget::ItemAt(int index) const {
  QListWidgetItem* item = list_.item(index);
  if (item == nullptr) {
    throw std::out_of_range("lstPlayList has no item " + std::to_string(index) + " (it holds " +
                            std::to_string(list_.count()) + ")");
  }
  return *item;
}

int ListBoxWidget::Count() const {
  return list_.count();
}

std::string ListBoxWidget::Text(int index) const {
  return ItemAt(index).data(kBytesRole).toByteArray().toStdString();
}

std::int32_t ListBoxWidget::ItemData(int index) const {
  return ItemAt(index).data(Qt::UserRole).toInt();
}

void ListBoxWidget::SetItemData(int index, std::int32_t data) {
  ItemAt(index).setData(Qt::UserRole, data);
}

void ListBoxWidget::InsertItem(int index, const std::string& text) {
  if (index < 0 || index > list_.count()) {
    throw std::out_of_range("cannot insert at " + std::to_string(index) + " into lstPlayList");
  }
  auto* item = new QListWidgetItem(platform::qt::ToQString(text));
  // Entries end in their archive's path, usually wider than the list.
  item->setToolTip(item->text());
  item->setData(kBytesRole, QByteArray(text.data(), static_cast<qsizetype>(text.size())));
  item->setData(Qt::UserRole, 0);
  list_.insertItem(index, item);
}

void ListBoxWidget::RemoveItem(int index) {
  ItemAt(index);
  delete list_.takeItem(index);
}

void ListBoxWidget::Clear() {
  list_.clear();
}

int ListBoxWidget::SelectedIndex() const {
  const QList<QListWidgetItem*> selected = list_.selectedItems();
  return selected.isEmpty() ? -1 : list_.row(selected.front());
}

void ListBoxWidget::Select(int index) {
  if (index < 0) {
    list_.clearSelection();
    return;
  }
  ItemAt(index);
  list_.setCurrentRow(index, QItemSelectionModel::ClearAndSelect);
}

void ListBoxWidget::SetFocus() {
  list_.setFocus();
}

}  // namespace shell
