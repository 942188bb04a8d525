#pragma once
#include <vector>

#include "core/adapter/list_data.h"

namespace kestrum {

// Rows being built for one listing, with what their order is decided by. Rows, Sizes and
// Suffixed run in step: Sizes holds the byte count each row shows (0 for rows without one),
// Suffixed whether name-sort mode gave the row a group letter.
struct RowBatch {
  std::vector<ListRow> Rows;
  std::vector<double> Sizes;
  std::vector<char> Suffixed;

  void Add(ListRow row, double size, bool suffixed) {
    Rows.push_back(std::move(row));
    Sizes.push_back(size);
    Suffixed.push_back(suffixed ? 1 : 0);
  }
  void Append(RowBatch&& more);
  std::size_t Count() const { return Rows.size(); }
};

// Name-sort mode: one sort of the row texts (each already ending in its group letter, "A"
// for folders and "B" for files) in the tree's case-insensitive order, equal texts keeping
// the order they came in; then the letter is taken off again. So a folder comes before a
// file of the same name.
void SortBySuffixedName(RowBatch& batch);

// Size-sort mode: descending by the byte counts as numbers (exact at any size, unlike a
// comparison of zero-padded texts); equal sizes in the tree's case-insensitive name order,
// rows equal in both keeping the order they came in.
void SortBySize(RowBatch& batch);

// The listing's one sort: by suffixed name in name-sort mode, else by size in size-sort
// mode, else none.
void SortListing(RowBatch& batch, bool suffixSort, bool sizeSort);

}  // namespace kestrum
