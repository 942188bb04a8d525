#include "core/views/list_sort.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
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

// The row texts folded to lower case (ASCII, as TextLess folds them) in one buffer, so that
// comparing two is a memcmp over contiguous memory: the same order as TextLess, at a
// fraction of its cost on a million rows.
class FoldedTexts {
 public:
  explicit FoldedTexts(const RowBatch& b) {
    std::size_t total = 0;
    for (const ListRow& r : b.Rows) total += r.Text.size();
    chars_.resize(total);
    spans_.reserve(b.Count());
    std::size_t at = 0;
    for (const ListRow& r : b.Rows) {
      for (char c : r.Text) chars_[at++] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
      spans_.push_back({at - r.Text.size(), r.Text.size()});
    }
  }
  // <0, 0, >0 as folded text x sorts before, with, after folded text y.
  int Compare(std::uint32_t x, std::uint32_t y) const {
    const Span& a = spans_[x];
    const Span& b = spans_[y];
    const std::size_t n = std::min(a.len, b.len);
    if (n) {
      if (const int c = std::memcmp(chars_.data() + a.off, chars_.data() + b.off, n)) return c;
    }
    return a.len < b.len ? -1 : a.len > b.len ? 1 : 0;
  }

 private:
  struct Span {
    std::size_t off, len;
  };
  std::vector<char> chars_;
  std::vector<Span> spans_;
};

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
  {
    const FoldedTexts texts(b);
    // Ties broken by position: the order of a stable sort, with a plain one.
    std::sort(perm.begin(), perm.end(), [&](std::uint32_t x, std::uint32_t y) {
      const int c = texts.Compare(x, y);
      return c != 0 ? c < 0 : x < y;
    });
  }
  Permute(b, perm);
  // Only the letters the listing added come off: a row without one (the placeholder of a
  // folder whose subfolders were never read) keeps its whole text.
  for (std::size_t i = 0; i < b.Count(); ++i)
    if (b.Suffixed[i] && !b.Rows[i].Text.empty()) b.Rows[i].Text.pop_back();
}

void SortBySize(RowBatch& b) {
  std::vector<std::uint32_t> perm = Identity(b.Count());
  {
    const FoldedTexts texts(b);
    std::sort(perm.begin(), perm.end(), [&](std::uint32_t x, std::uint32_t y) {
      if (b.Sizes[x] != b.Sizes[y]) return b.Sizes[x] > b.Sizes[y];
      const int c = texts.Compare(x, y);
      return c != 0 ? c < 0 : x < y;
    });
  }
  Permute(b, perm);
}

void SortListing(RowBatch& b, bool suffixSort, bool sizeSort) {
  if (suffixSort)
    SortBySuffixedName(b);
  else if (sizeSort)
    SortBySize(b);
}

}  // namespace kestrum
