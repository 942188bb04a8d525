#include "core/adapter/list_data.h"

#include <system_error>
#include <thread>

#include <algorithm>

#include "core/adapter/explorer.h"

namespace kestrum {

const std::string& ListRow::Cell(std::size_t column) const {
  static const std::string kEmpty;
  if (column == 0) return Text;
  return column - 1 < SubItems.size() ? SubItems[column - 1] : kEmpty;
}

double ListData::ColumnLeft(std::size_t column) const {
  double left = 0;
  for (std::size_t i = 0; i < column && i < columns_.size(); ++i) left += columns_[i].Width;
  return left;
}

void ListData::ClearColumns() {
  columns_.clear();
  if (observer_) observer_->ColumnsChanged();
}

void ListData::AddColumn(const std::string& text, double width) {
  columns_.push_back({text, width});
  if (observer_) observer_->ColumnsChanged();
}

ListRow* ListData::Item(std::size_t position) {
  return position >= 1 && position <= rows_.size() ? &rows_[position - 1] : nullptr;
}

std::size_t ListData::Add(ListRow row) {
  if (observer_) observer_->RowAboutToBeInserted(static_cast<int>(rows_.size()));
  rows_.push_back(std::move(row));
  if (observer_) observer_->RowInserted();
  return rows_.size();
}

namespace {

// Rows of a large listing are freed on a thread of their own: a few hundred thousand rows of
// several texts each take tens of milliseconds to free, which the window thread must not wait.
void Drop(std::vector<ListRow>&& rows) {
  constexpr std::size_t kFreedAside = 20000;
  if (rows.size() < kFreedAside) return;
  try {
    std::thread([gone = std::move(rows)]() mutable { std::vector<ListRow>().swap(gone); })
        .detach();
  } catch (const std::system_error&) {
    // No thread to be had: rows are freed here when the caller lets go of them.
  }
}

}  // namespace

void ListData::Clear() {
  if (observer_) observer_->ListAboutToBeReset();
  Drop(std::move(rows_));
  rows_.clear();
  if (observer_) observer_->ListReset();
}

void ListData::Assign(std::vector<ListRow> rows) {
  if (observer_) observer_->ListAboutToBeReset();
  Drop(std::move(rows_));
  rows_ = std::move(rows);
  sorted_ = false;
  if (observer_) observer_->ListReset();
}

void ListData::Remove(std::size_t position) {
  if (position < 1 || position > rows_.size()) return;
  if (observer_) observer_->RowAboutToBeRemoved(static_cast<int>(position - 1));
  rows_.erase(rows_.begin() + static_cast<std::ptrdiff_t>(position - 1));
  if (observer_) observer_->RowRemoved();
}

std::size_t ListData::IndexOfKey(const std::string& key) const {
  for (std::size_t i = 0; i < rows_.size(); ++i)
    if (rows_[i].Key == key) return i + 1;
  return 0;
}

void ListData::SetSelected(std::size_t position, bool selected) {
  if (ListRow* r = Item(position)) r->Selected = selected;
}

void ListData::SetSorted(bool sorted) {
  sorted_ = sorted;
  if (!sorted) return;
  if (observer_) observer_->ListAboutToBeReset();
  const auto key = static_cast<std::size_t>(std::max(SortKey, 0));
  const bool desc = SortOrder == 1;
  std::stable_sort(rows_.begin(), rows_.end(), [&](const ListRow& a, const ListRow& b) {
    return desc ? TextLess(b.Cell(key), a.Cell(key)) : TextLess(a.Cell(key), b.Cell(key));
  });
  if (observer_) observer_->ListReset();
}

}  // namespace kestrum
