#pragma once
#include <cstddef>
#include <string>
#include <vector>

#include "core/adapter/row_tags.h"

namespace kestrum {

struct ListColumn {
  std::string Text;
  double Width = 0;  // twips
};

struct ListRow {
  std::string Text;
  std::string Key;
  std::string Icon;
  std::string SmallIcon;
  std::vector<std::string> SubItems;  // column 1 onwards
  RowTag Tag;
  bool Selected = false;
  // A further name of a multiply linked file whose bytes are counted at another name: it
  // lists with its size, but its share is that of zero bytes and it takes no area.
  bool CountedElsewhere = false;
  // What a view says of such a row, as its tooltip and its accessible description.
  static constexpr const char* kCountedElsewhereText =
      "A hard link counted elsewhere: its bytes are counted at another name of the same file";
  // An entry the scan left out by an exclude rule: listed so that the user sees it, with
  // "excluded" and the rule in its size cell, no share and no area; its bytes were not
  // counted. ExcludedFolder: it is a folder (which has no tree node).
  bool Excluded = false;
  bool ExcludedFolder = false;
  static constexpr const char* kExcludedText =
      "Left out of the scan by an exclude rule: its size was not counted";
  // A folder where another file system is mounted, which the scan crossed into and counted:
  // the file system's type ("tmpfs"), shown after the name. Empty for any other row.
  std::string FileSystem = {};
  static constexpr const char* kMountedText =
      "Another file system is mounted here; the scan went into it and counted it";
  // The text of a column: 0 is Text, k is SubItems[k - 1] (empty when missing).
  const std::string& Cell(std::size_t column) const;
};

// Told about every change of the list, so that a view can follow it.
class ListObserver {
 public:
  virtual ~ListObserver() = default;
  virtual void ListAboutToBeReset() = 0;
  virtual void ListReset() = 0;
  virtual void RowAboutToBeInserted(int row) = 0;
  virtual void RowInserted() = 0;
  virtual void RowAboutToBeRemoved(int row) = 0;
  virtual void RowRemoved() = 0;
  virtual void ColumnsChanged() = 0;
};

// The content of the list view as plain data: columns, rows and the sort state.
class ListData {
 public:
  double Width = 0;  // the view's width in twips, kept up to date by the window
  bool Visible = true;
  int SortKey = 0;    // 0-based column
  int SortOrder = 0;  // 0 ascending, 1 descending

  void SetObserver(ListObserver* observer) { observer_ = observer; }

  const std::vector<ListColumn>& Columns() const { return columns_; }
  // The left edge of a column: the sum of the widths before it.
  double ColumnLeft(std::size_t column) const;
  void ClearColumns();
  void AddColumn(const std::string& text, double width);

  const std::vector<ListRow>& Rows() const { return rows_; }
  std::size_t Count() const { return rows_.size(); }
  // 1-based; nullptr outside 1..Count().
  ListRow* Item(std::size_t position);
  // Appends a row; returns its 1-based position.
  std::size_t Add(ListRow row);
  void Clear();
  // Replaces every row at once (one reset for the view, however many rows), sorting off.
  void Assign(std::vector<ListRow> rows);
  void Remove(std::size_t position);
  // 1-based position of the first row with this key, 0 when none.
  std::size_t IndexOfKey(const std::string& key) const;
  void SetSelected(std::size_t position, bool selected);

  bool Sorted() const { return sorted_; }
  // True sorts the present rows once by SortKey's text in SortOrder; false keeps that order
  // and later rows go to the end.
  void SetSorted(bool sorted);

 private:
  std::vector<ListColumn> columns_;
  std::vector<ListRow> rows_;
  bool sorted_ = false;
  ListObserver* observer_ = nullptr;
};

}  // namespace kestrum
