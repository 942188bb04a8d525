#include "core/rows/treemap.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "core/tree/subfolders.h"

namespace kestrum {

namespace {

// The worse aspect ratio of a strip of areas (sum, smallest, largest) along side.
double Worst(double sum, double smallest, double largest, double side) {
  const double s2 = sum * sum, w2 = side * side;
  return std::max(w2 * largest / s2, s2 / (w2 * smallest));
}

struct Pending {
  MapBox Box;
  MapItem Item;
  std::uint32_t Parent;
  std::uint8_t Hue;
  std::uint16_t Depth;
};

// Sorts items by size, largest first (equal sizes keep their order), and drops those that
// take no area or would come out smaller than the smallest rectangle shown, given that the
// whole of room (pixels squared) stands for total. Returns the total, at least the sum of
// every positive size given (the dropped ones' area stays empty).
double Prepare(std::vector<MapItem>& items, double total, double room) {
  double sum = 0;
  for (const MapItem& i : items)
    if (i.Size > 0) sum += i.Size;
  total = std::max(total, sum);
  if (!(total > 0) || !std::isfinite(total)) {
    items.clear();
    return 0;
  }
  const double smallest = static_cast<double>(kMapMinSide) * kMapMinSide * total / room;
  std::erase_if(items, [&](const MapItem& i) { return !(i.Size > 0) || i.Size < smallest; });
  std::stable_sort(items.begin(), items.end(),
                   [](const MapItem& a, const MapItem& b) { return a.Size > b.Size; });
  return total;
}

}  // namespace

void Squarify(const double* sizes, std::size_t n, double total, MapBox area, MapBox* out) {
  double sum = 0;
  std::size_t m = 0;  // the items above 0, which come first
  for (std::size_t i = 0; i < n; ++i) {
    out[i] = {area.X, area.Y, 0, 0};
    if (sizes[i] > 0) {
      sum += sizes[i];
      m = i + 1;
    }
  }
  total = std::max(total, sum);
  if (!(total > 0) || !(area.W > 0) || !(area.H > 0)) return;
  const double scale = area.W * area.H / total;
  // Without room left empty, the last strip takes whatever rounding left over.
  const bool filled = (total - sum) * scale < 1e-9 * area.W * area.H;
  MapBox r = area;
  std::size_t i = 0;
  while (i < m) {
    const double side = std::min(r.W, r.H);
    auto at = [&](std::size_t k) { return std::max(sizes[k], 0.0) * scale; };
    double rowSum = at(i), lo = rowSum, hi = rowSum;
    double worst = rowSum > 0 ? Worst(rowSum, lo, hi, side) : 0;
    std::size_t j = i + 1;
    while (j < m) {
      const double a = at(j);
      if (!(a > 0)) {
        ++j;
        continue;
      }
      const double s = rowSum + a, nl = std::min(lo, a), nh = std::max(hi, a);
      const double w = Worst(s, nl, nh, side);
      if (rowSum > 0 && w > worst) break;
      rowSum = s, lo = nl, hi = nh, worst = w;
      ++j;
    }
    const bool last = filled && j == m;
    if (r.W >= r.H) {  // a column at the left, its items one above the other
      const double t = last ? r.W : rowSum / r.H;
      double y = r.Y;
      for (std::size_t k = i; k < j; ++k) {
        const double h = k + 1 == j ? r.Y + r.H - y : at(k) / t;
        out[k] = {r.X, y, t, std::max(h, 0.0)};
        y += h;
      }
      r.X += t;
      r.W = std::max(r.W - t, 0.0);
    } else {  // a row at the top, its items side by side
      const double t = last ? r.H : rowSum / r.W;
      double x = r.X;
      for (std::size_t k = i; k < j; ++k) {
        const double w = k + 1 == j ? r.X + r.W - x : at(k) / t;
        out[k] = {x, r.Y, std::max(w, 0.0), t};
        x += w;
      }
      r.Y += t;
      r.H = std::max(r.H - t, 0.0);
    }
    i = j;
  }
}

Treemap LayoutTreemap(std::vector<MapItem> top, double total, float width, float height,
                      const MapChildren& children, std::size_t paletteSize) {
  Treemap map;
  map.Width = std::max(width, 0.0f);
  map.Height = std::max(height, 0.0f);
  const double room = static_cast<double>(map.Width) * map.Height;
  if (!(room > 0)) return map;
  map.Total = Prepare(top, total, room);
  if (top.empty()) return map;
  if (paletteSize == 0) paletteSize = 1;

  std::vector<double> sizes;
  std::vector<MapBox> boxes;
  std::vector<Pending> stack;
  std::vector<MapItem> kids;
  // Lays items out in box and puts them on the stack, the first on top.
  auto place = [&](const std::vector<MapItem>& items, double of, MapBox box, std::uint32_t parent,
                   int hue, std::uint16_t depth) {
    sizes.resize(items.size());
    boxes.resize(items.size());
    for (std::size_t i = 0; i < items.size(); ++i) sizes[i] = items[i].Size;
    Squarify(sizes.data(), items.size(), of, box, boxes.data());
    for (std::size_t i = items.size(); i-- > 0;) {
      const auto h = static_cast<std::uint8_t>(hue >= 0 ? hue : static_cast<int>(i % paletteSize));
      stack.push_back({boxes[i], items[i], parent, h, depth});
    }
  };
  place(top, map.Total, {0, 0, map.Width, map.Height}, kNoRect, -1, 0);

  while (!stack.empty()) {
    const Pending p = stack.back();
    stack.pop_back();
    if (p.Box.W < kMapMinSide || p.Box.H < kMapMinSide) continue;
    const auto index = static_cast<std::uint32_t>(map.Rects.size());
    MapRect r;
    r.X = static_cast<float>(p.Box.X);
    r.Y = static_cast<float>(p.Box.Y);
    r.W = static_cast<float>(p.Box.W);
    r.H = static_cast<float>(p.Box.H);
    r.Parent = p.Parent;
    r.End = index + 1;
    r.Ref = p.Item.Ref;
    r.Kind = p.Item.Kind;
    r.Hue = p.Hue;
    r.Depth = p.Depth;
    map.Rects.push_back(r);
    const MapBox inner{p.Box.X + kMapFrame, p.Box.Y + kMapFrame, p.Box.W - 2 * kMapFrame,
                       p.Box.H - 2 * kMapFrame};
    if (p.Item.Kind == MapKind::Files || p.Item.Kind == MapKind::File || !children || inner.W < kMapMinSide ||
        inner.H < kMapMinSide)
      continue;
    kids.clear();
    children(r, kids);
    const double of = Prepare(kids, p.Item.Size, inner.W * inner.H);
    if (kids.empty()) continue;
    const auto depth = static_cast<std::uint16_t>(p.Depth == UINT16_MAX ? p.Depth : p.Depth + 1);
    place(kids, of, inner, index, p.Hue, depth);
  }
  // Each subtree's end: the descendants come after their rectangle, so a backward pass has
  // every child's end before its parent's.
  for (std::size_t k = map.Rects.size(); k-- > 0;) {
    const std::uint32_t up = map.Rects[k].Parent;
    if (up != kNoRect) map.Rects[up].End = std::max(map.Rects[up].End, map.Rects[k].End);
  }
  return map;
}

namespace {
bool Holds(const MapRect& r, float x, float y) {
  return x >= r.X && x < r.X + r.W && y >= r.Y && y < r.Y + r.H;
}
}  // namespace

std::uint32_t MapHit(const Treemap& map, float x, float y) {
  const auto n = static_cast<std::uint32_t>(map.Rects.size());
  std::uint32_t found = kNoRect;
  std::uint32_t i = 0, end = n;
  while (i < end) {
    if (Holds(map.Rects[i], x, y)) {
      found = i;
      end = map.Rects[i].End;
      ++i;
    } else {
      i = map.Rects[i].End;
    }
  }
  return found;
}

std::uint32_t MapTopOf(const Treemap& map, std::uint32_t rect) {
  if (rect >= map.Rects.size()) return kNoRect;
  while (map.Rects[rect].Parent != kNoRect) rect = map.Rects[rect].Parent;
  return rect;
}

std::uint32_t MapFirstChild(const Treemap& map, std::uint32_t rect) {
  if (rect >= map.Rects.size() || map.Rects[rect].End <= rect + 1) return kNoRect;
  return rect + 1;
}

std::uint32_t MapSibling(const Treemap& map, std::uint32_t rect, int dx, int dy) {
  if (rect >= map.Rects.size()) return kNoRect;
  const MapRect& from = map.Rects[rect];
  const std::uint32_t up = from.Parent;
  std::uint32_t i = up == kNoRect ? 0 : up + 1;
  const std::uint32_t end =
      up == kNoRect ? static_cast<std::uint32_t>(map.Rects.size()) : map.Rects[up].End;
  const float cx = from.X + from.W / 2, cy = from.Y + from.H / 2;
  std::uint32_t best = kNoRect;
  float bestScore = std::numeric_limits<float>::max();
  for (; i < end; i = map.Rects[i].End) {
    if (i == rect) continue;
    const MapRect& s = map.Rects[i];
    const float ex = s.X + s.W / 2 - cx, ey = s.Y + s.H / 2 - cy;
    const float along = dx != 0 ? ex * static_cast<float>(dx) : ey * static_cast<float>(dy);
    if (along <= 0) continue;
    // Straight ahead first: a sibling that overlaps the way across counts its distance only.
    const bool ahead = dx != 0 ? s.Y < from.Y + from.H && from.Y < s.Y + s.H
                               : s.X < from.X + from.W && from.X < s.X + s.W;
    const float across = std::fabs(dx != 0 ? ey : ex);
    const float score = along + (ahead ? 0 : 2 * across + 1e6f);
    if (score < bestScore) {
      bestScore = score;
      best = i;
    }
  }
  return best;
}

MapFolder PlaceOfFolder(DiskObject& folder) {
  DiskObject* drive = DriveOf(&folder);
  const FolderList* folders = drive ? drive->DiskObjectsIfAny() : nullptr;
  const std::size_t at = folders ? folders->PositionOf(&folder) : 0;
  return at ? MapFolder{drive, at, &folder} : MapFolder{};
}

void FolderChildren(std::vector<MapFolder>& folders, std::uint32_t folder, bool allocated,
                    std::vector<MapItem>& out) {
  if (folder >= folders.size()) return;
  const MapFolder at = folders[folder];  // a copy: folders grows below
  const FolderList* list = at.Drive ? at.Drive->DiskObjectsIfAny() : nullptr;
  if (!list || !at.Folder || list->Item(at.Position) != at.Folder) return;
  const std::size_t before = out.size();
  for (const PlacedFolder& k : Subfolders(*list, at.Position)) {
    if (k.Folder->Class != ObjectClass::Folder) continue;
    out.push_back(
        {k.Folder->Space(allocated), MapKind::Folder, static_cast<std::uint32_t>(folders.size())});
    folders.push_back({at.Drive, k.Position, k.Folder});
  }
  // A folder without subfolders stands for its files itself.
  const DiskObject& d = *at.Folder;
  const double own = allocated ? d.fAllocatedSpace : d.fUsedSpace;
  if (own > 0 && out.size() > before) out.push_back({own, MapKind::Files, folder});
}

void KeepNamedFolders(Treemap& map) {
  std::vector<std::uint32_t> renumber(map.Folders.size(), kNoRect);
  std::vector<MapFolder> kept;
  for (MapRect& r : map.Rects) {
    if (r.Kind == MapKind::Row || r.Kind == MapKind::File || r.Ref >= map.Folders.size())
      continue;
    std::uint32_t& to = renumber[r.Ref];
    if (to == kNoRect) {
      to = static_cast<std::uint32_t>(kept.size());
      kept.push_back(map.Folders[r.Ref]);
    }
    r.Ref = to;
  }
  map.Folders = std::move(kept);
}

const std::vector<std::uint32_t>& MapPalette() {
  // Hues that colour-vision deficiencies do not merge (the test measures them through the
  // simulated deficiencies), of middle lightness so that both a light and a dark window
  // frame them.
  static const std::vector<std::uint32_t> kPalette = {0xE69F00, 0x56B4E9, 0x009E73, 0xF0E442,
                                                      0x0072B2, 0xD55E00, 0xCC79A7};
  return kPalette;
}

}  // namespace kestrum
