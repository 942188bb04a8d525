#include "core/views/list_sort.h"

#include <algorithm>
#include <cstdint>
#include <numeric>

namespace kestrum {

namespace {

// Puts the rows (and their sizes and marks) in the order of perm, moving each row once
// rather than swapping whole rows inside the sort.
void Permute(RowBatch& b, const std::vector<std::uint32_t>& perm) {
  RowBatch out;
  out.Rows.reserve(perm.size());
  out.Sizes.reserve(perm.size());
  out.Suffixed.reserve(perm.size());
  for (std::uint32_t i : perm) out.Add(std::move(b.Rows[i]), b.Sizes[i], b.Suffixed[i] != 0);
  b = std::move(out);
}

std::vector<std::uint32_t> Identity(std::size_t n) {
  std::vector<std::uint32_t> perm(n);
  std::iota(perm.begin(), perm.end(), 0u);
  return perm;
}

}  // namespace

void RowBatch::Append(RowBatch&& more) {
  Rows.insert(Rows.end(), std::make_move_iterator(more.Rows.begin()),
              std::make_move_iterator(more.Rows.end()));
  Sizes.insert(Sizes.end(), more.Sizes.begin(), more.Sizes.end());
  Suffixed.insert(Suffixed.end(), more.Suffixed.begin(), more.Suffixed.end());
  more = RowBatch{};
}

void SortBySuffixedName(RowBatch& b) {
  std::vector<std::uint32_t> perm = Identity(b.Count());
  std::stable_sort(perm.begin(), perm.end(), [&](std::uint32_t x, std::uint32_t y) {
    return TextLess(b.Rows[x].Text, b.Rows[y].Text);
  });
  Permute(b, perm);
  // Only the letters the listing added come off: a row without one (the placeholder of a
  // folder whose subfolders were never read) keeps its whole text.
  for (std::size_t i = 0; i < b.Count(); ++i)
    if (b.Suffixed[i] && !b.Rows[i].Text.empty()) b.Rows[i].Text.pop_back();
}

void SortBySize(RowBatch& b) {
  std::vector<std::uint32_t> perm = Identity(b.Count());
  std::stable_sort(perm.begin(), perm.end(), [&](std::uint32_t x, std::uint32_t y) {
    if (b.Sizes[x] != b.Sizes[y]) return b.Sizes[x] > b.Sizes[y];
    return TextLess(b.Rows[x].Text, b.Rows[y].Text);
  });
  Permute(b, perm);
}

}  // namespace kestrum
