// The treemap's layout on its invariants: areas, containment, no overlap, order, aspect
// ratios, sizes of 0 and near 2^63, 100,000 siblings and 100,000 levels; the hit test, the
// keyboard's way between siblings, and the palette seen through colour-vision deficiencies.
#include "core/rows/treemap.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <random>

#include "support/palette_check.h"

namespace kestrum {
namespace {

constexpr float kW = 1600, kH = 500;

std::vector<MapItem> Items(const std::vector<double>& sizes) {
  std::vector<MapItem> out;
  for (std::size_t i = 0; i < sizes.size(); ++i)
    out.push_back({sizes[i], MapKind::Row, static_cast<std::uint32_t>(i)});
  return out;
}

bool Inside(const MapRect& in, float x, float y, float w, float h) {
  const float e = 1e-3f * std::max(w, h);
  return in.X >= x - e && in.Y >= y - e && in.X + in.W <= x + w + e && in.Y + in.H <= y + h + e;
}

float Overlap(const MapRect& a, const MapRect& b) {
  const float w = std::min(a.X + a.W, b.X + b.W) - std::max(a.X, b.X);
  const float h = std::min(a.Y + a.H, b.Y + b.H) - std::max(a.Y, b.Y);
  return w > 0 && h > 0 ? w * h : 0;
}

// Every invariant of a laid-out map whose top-level items had sizes (Ref = index) and whose
// nested rectangles came from children: each rectangle at least the smallest side, inside
// its parent's frame, apart from its siblings, siblings in descending size, and the top
// level's areas in proportion to the sizes within a pixel's rounding along their edges.
void CheckMap(const Treemap& m, const std::vector<double>& sizes, bool checkAreas = true) {
  const double room = static_cast<double>(m.Width) * m.Height;
  std::vector<std::uint32_t> siblings;
  for (std::uint32_t i = 0; i < m.Rects.size(); ++i) {
    const MapRect& r = m.Rects[i];
    ASSERT_GE(r.W, kMapMinSide);
    ASSERT_GE(r.H, kMapMinSide);
    ASSERT_GT(r.End, i);
    ASSERT_LE(r.End, m.Rects.size());
    if (r.Parent == kNoRect) {
      ASSERT_TRUE(Inside(r, 0, 0, m.Width, m.Height));
      ASSERT_EQ(r.Depth, 0);
      if (checkAreas) {
        const double want = sizes[r.Ref] / m.Total * room;
        EXPECT_NEAR(r.W * r.H, want, 1e-3 * room / 1000 + (r.W + r.H) * 0.01) << "rect " << i;
      }
    } else {
      const MapRect& p = m.Rects[r.Parent];
      ASSERT_LT(r.Parent, i);
      ASSERT_LE(r.End, p.End);
      ASSERT_TRUE(
          Inside(r, p.X + kMapFrame, p.Y + kMapFrame, p.W - 2 * kMapFrame, p.H - 2 * kMapFrame))
          << "rect " << i << " outside its parent's frame";
      ASSERT_EQ(r.Depth, p.Depth + 1);
      ASSERT_EQ(r.Hue, p.Hue);
    }
  }
  // Siblings: apart, and the top level in descending size.
  auto check = [&](std::uint32_t first, std::uint32_t end, bool top) {
    siblings.clear();
    for (std::uint32_t i = first; i < end; i = m.Rects[i].End) siblings.push_back(i);
    for (std::size_t a = 1; a < siblings.size(); ++a) {
      if (top) {
        EXPECT_GE(sizes[m.Rects[siblings[a - 1]].Ref], sizes[m.Rects[siblings[a]].Ref]);
      }
      if (siblings.size() <= 400) {
        for (std::size_t b = 0; b < a; ++b) {
          // Apart but for the float rounding of shared edges.
          const MapRect &p = m.Rects[siblings[a]], &q = m.Rects[siblings[b]];
          ASSERT_LT(Overlap(p, q), 1e-3f * (p.W + p.H + q.W + q.H));
        }
      }
    }
  };
  check(0, static_cast<std::uint32_t>(m.Rects.size()), true);
  for (std::uint32_t i = 0; i < m.Rects.size() && i < 2000; ++i)
    if (m.Rects[i].End > i + 1) check(i + 1, m.Rects[i].End, false);
}

TEST(TreemapLayout, KeepsItsInvariantsOnEveryKindOfSizes) {
  std::mt19937_64 rng(7);
  std::vector<double> random(300);
  for (double& s : random) s = std::exp(std::uniform_real_distribution<double>(0, 20)(rng));
  const double big = 9223372036854775807.0;  // 2^63 - 1 as a double
  const struct {
    const char* name;
    std::vector<double> sizes;
    double total;
  } cases[] = {
      {"one", {5}, 0},
      {"equal", std::vector<double>(64, 1), 0},
      {"random", random, 0},
      {"zeros and negatives take no area", {0, 10, 0, -4, 30, 0}, 0},
      {"huge", {big, big / 2, big / 3, 1e15}, 0},
      {"a deleted child leaves room empty", {10, 20, 30}, 120},
      {"all zero", {0, 0}, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Treemap m = LayoutTreemap(Items(c.sizes), c.total, kW, kH, {}, 7);
    double sum = 0;
    for (double s : c.sizes) sum += std::max(s, 0.0);
    EXPECT_EQ(m.Total, std::max(sum, c.total));
    CheckMap(m, c.sizes);
    double covered = 0;
    for (const MapRect& r : m.Rects) {
      EXPECT_GT(c.sizes[r.Ref], 0);
      covered += static_cast<double>(r.W) * r.H;
    }
    if (sum > 0) {
      EXPECT_LE(covered, kW * kH * (sum / m.Total) * 1.0001);
    }
  }
}

TEST(TreemapLayout, SquaresStayNearlySquare) {
  for (const auto& [n, worst] :
       std::vector<std::pair<int, double>>{{4, 1.6}, {50, 2.5}, {500, 3}}) {
    const Treemap m = LayoutTreemap(Items(std::vector<double>(n, 1)), 0, 1000, 1000, {}, 7);
    ASSERT_EQ(m.Rects.size(), static_cast<std::size_t>(n));
    for (const MapRect& r : m.Rects) EXPECT_LE(std::max(r.W / r.H, r.H / r.W), worst) << n;
  }
}

TEST(TreemapLayout, HundredThousandSiblingsShowWhatFits) {
  std::mt19937_64 rng(3);
  std::vector<double> sizes(100000);
  for (double& s : sizes) s = std::exp(std::uniform_real_distribution<double>(0, 25)(rng));
  const Treemap m = LayoutTreemap(Items(sizes), 0, kW, kH, {}, 7);
  EXPECT_GT(m.Rects.size(), 100u);
  EXPECT_LE(m.Rects.size(), static_cast<std::size_t>(kW * kH / (kMapMinSide * kMapMinSide)));
  CheckMap(m, sizes);
}

TEST(TreemapLayout, NestsToTheSmallestSideThroughAHundredThousandLevels) {
  // A chain of 100,000 folders, each holding the next and some files of its own.
  constexpr std::uint32_t kLevels = 100000;
  std::uint32_t asked = 0;
  const MapChildren chain = [&](const MapRect& r, std::vector<MapItem>& out) {
    ++asked;
    const std::uint32_t level = r.Kind == MapKind::Row ? 0 : r.Ref;
    if (level + 1 < kLevels)
      out.push_back({double(kLevels - level - 1), MapKind::Folder, level + 1});
    out.push_back({0.5, MapKind::Files, level});
  };
  const Treemap m = LayoutTreemap(Items({double(kLevels)}), 0, kW, kH, chain, 7);
  CheckMap(m, {double(kLevels)});
  // Each level gives two pixels to its frame: the last shown is under 2 + 3 high.
  std::uint32_t deepest = 0;
  for (const MapRect& r : m.Rects) deepest = std::max<std::uint32_t>(deepest, r.Depth);
  EXPECT_GT(deepest, 200u);
  EXPECT_LT(deepest, 250u);
  EXPECT_LE(asked, deepest + 1);
  // Files blocks are never nested into.
  for (const MapRect& r : m.Rects)
    if (r.Kind == MapKind::Files) {
      EXPECT_EQ(r.End, &r - m.Rects.data() + 1);
    }
}

TEST(TreemapLayout, HitsTheDeepestRectangleAndWalksSiblings) {
  const MapChildren two = [](const MapRect& r, std::vector<MapItem>& out) {
    if (r.Depth < 2) {
      out.push_back({3, MapKind::Folder, r.Ref * 10 + 1});
      out.push_back({1, MapKind::Folder, r.Ref * 10 + 2});
    }
  };
  const Treemap m = LayoutTreemap(Items({4, 4, 4, 4}), 0, 400, 400, two, 7);
  std::mt19937 rng(1);
  for (int k = 0; k < 2000; ++k) {
    const float x = std::uniform_real_distribution<float>(0, 400)(rng);
    const float y = std::uniform_real_distribution<float>(0, 400)(rng);
    const std::uint32_t hit = MapHit(m, x, y);
    ASSERT_NE(hit, kNoRect);
    const MapRect& r = m.Rects[hit];
    ASSERT_TRUE(x >= r.X && x < r.X + r.W && y >= r.Y && y < r.Y + r.H);
    for (std::uint32_t c = hit + 1; c < r.End; ++c) {
      const MapRect& k2 = m.Rects[c];
      ASSERT_FALSE(x >= k2.X && x < k2.X + k2.W && y >= k2.Y && y < k2.Y + k2.H);
    }
    EXPECT_LT(MapTopOf(m, hit), 4 * 7u);
    EXPECT_EQ(m.Rects[MapTopOf(m, hit)].Parent, kNoRect);
  }
  EXPECT_EQ(MapHit(m, -1, 5), kNoRect);
  // Four equal squares: the keyboard goes round them.
  std::vector<std::uint32_t> tops;
  for (std::uint32_t i = 0; i < m.Rects.size(); i = m.Rects[i].End) tops.push_back(i);
  ASSERT_EQ(tops.size(), 4u);
  auto at = [&](float x, float y) { return MapTopOf(m, MapHit(m, x, y)); };
  const std::uint32_t tl = at(10, 10), tr = at(390, 10), bl = at(10, 390), br = at(390, 390);
  EXPECT_EQ(MapSibling(m, tl, 1, 0), tr);
  EXPECT_EQ(MapSibling(m, tl, 0, 1), bl);
  EXPECT_EQ(MapSibling(m, br, -1, 0), bl);
  EXPECT_EQ(MapSibling(m, br, 0, -1), tr);
  EXPECT_EQ(MapSibling(m, tl, -1, 0), kNoRect);
  EXPECT_EQ(MapFirstChild(m, tl), tl + 1);
  EXPECT_EQ(m.Rects[MapFirstChild(m, tl)].Parent, tl);
}

// The palette through simulated colour-vision deficiencies (see PaletteClashes): every two
// hues, and each hue and the grey of a folder's own files, stay clearly apart.
TEST(TreemapPalette, StaysApartForCommonColourVisionDeficiencies) {
  std::vector<std::uint32_t> colours = MapPalette();
  ASSERT_GE(colours.size(), 6u);
  colours.push_back(kMapFilesGrey);
  EXPECT_EQ(test::PaletteClashes(colours, 15), std::vector<std::string>{});
}

}  // namespace
}  // namespace kestrum
