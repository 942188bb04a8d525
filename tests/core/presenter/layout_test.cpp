#include "core/presenter/layout.h"

#include <gtest/gtest.h>

#include "core/presenter/placement.h"

namespace kestrum {
namespace {

LayoutInput Window() {
  LayoutInput in;
  in.WindowWidth = 10000;
  in.InnerHeight = 6000;
  in.ToolbarHeight = 420;
  in.StatusBarHeight = 300;
  in.LabelHeight = 250;
  return in;
}

TEST(SizeControls, FirstLayoutPutsTheSplitterAt3600) {
  bool first = true;
  const LayoutResult r = SizeControls(100, first, Window());
  EXPECT_FALSE(first);
  EXPECT_EQ(r.Splitter, 3600);
  EXPECT_EQ(r.Tree, (Rect{0, 440, 3600, 6000 - 440 - 300}));
  EXPECT_EQ(r.List.Left, 3640);
  EXPECT_EQ(r.List.Width, 10000 - (3600 + 140));
  EXPECT_EQ(r.Label, (Rect{3660, 440, r.List.Width - 40, 250}));
  EXPECT_EQ(r.List.Top, 440 + 250);
  EXPECT_EQ(r.List.Height, r.Tree.Height - 250 + 20);
  EXPECT_EQ(r.SplitterBar.Top, r.Tree.Top);
  EXPECT_EQ(r.SplitterBar.Height, r.Tree.Height);
  EXPECT_EQ(r.Chart, (Rect{3660, r.List.Top + 5, r.List.Width - 50, r.List.Height - 45}));
  // Later layouts keep whatever position they are given, unconstrained.
  EXPECT_EQ(SizeControls(100, first, Window()).Splitter, 100);
}

TEST(SizeControls, HiddenBarsGiveTheirSpace) {
  bool first = false;
  LayoutInput in = Window();
  in.ToolbarVisible = false;
  LayoutResult r = SizeControls(2000, first, in);
  EXPECT_EQ(r.Tree.Top, 0);
  EXPECT_EQ(r.Label.Top, 0);
  EXPECT_EQ(r.Tree.Height, 6000 - 300);
  in.StatusBarVisible = false;
  r = SizeControls(2000, first, in);
  EXPECT_EQ(r.Tree.Height, 6000);
  EXPECT_EQ(r.List.Top + r.List.Height, 6000 + 20);
}

TEST(SizeControls, DragLimitsAndMinimumWidth) {
  EXPECT_EQ(DragBarLeft(3600, -5000, 10000), 500);
  EXPECT_EQ(DragBarLeft(3600, 9000, 10000), 9500);
  EXPECT_EQ(DragBarLeft(3600, 100, 10000), 3700);
  EXPECT_EQ(DragBarLeft(400, 100, 10000), 500);
  EXPECT_EQ(DragBarRect({3600, 440, 45, 5000}), (Rect{3600, 440, 22, 4980}));
}

TEST(FitColumns, NameGivesWayFirstThenTheBarThenTheListScrolls) {
  // Name, size, percent, bar, date; the name may go down to 80, the bar to 30.
  const std::vector<int> wanted{200, 80, 70, 110, 130};
  const std::vector<YieldingColumn> yielding{{0, 80}, {3, 30}};
  const struct {
    int available;
    std::vector<int> widths;
  } cases[] = {
      {700, {200, 80, 70, 110, 130}},  // room for all: as wanted
      {550, {160, 80, 70, 110, 130}},  // the name gives way
      {430, {80, 80, 70, 70, 130}},    // the name at its least, then the bar
      {300, {80, 80, 70, 30, 130}},    // both at their least: the list scrolls
  };
  for (const auto& c : cases) EXPECT_EQ(FitColumns(wanted, yielding, c.available), c.widths);
  // A column that wants less than its minimum keeps what it wants; an unknown one is skipped.
  EXPECT_EQ(FitColumns({50, 100}, {{0, 80}, {9, 1}, {1, 60}}, 100), (std::vector<int>{50, 60}));
}

// On every resize the name takes what the other columns leave, or gives way first; a column
// the user dragged keeps its width through resizes until the next listing.
TEST(ColumnFit, TheNameTakesWhatIsLeftAndDraggedColumnsStay) {
  constexpr int kNewListing = -1, kNone = -2;
  const struct {
    int dragged;  // the column the user dragged before this fit, or kNewListing, or kNone
    int width;    // to this width
    int available;
    std::vector<int> widths;
  } steps[] = {
      {kNone, 0, 700, {310, 80, 70, 110, 130}},  // wider: the name takes the rest
      {kNone, 0, 550, {160, 80, 70, 110, 130}},  // narrower: the name gives way
      {kNone, 0, 430, {80, 80, 70, 70, 130}},    // then the bar
      {4, 200, 700, {240, 80, 70, 110, 200}},    // the date dragged wider: kept
      {kNone, 0, 430, {80, 80, 70, 30, 200}},    // ...through a resize; the rest scrolls
      {3, 20, 600, {230, 80, 70, 20, 200}},      // a dragged bar keeps even less than its least
      {0, 150, 900, {150, 80, 70, 20, 200}},     // the name dragged: the room left stays empty
      {kNone, 0, 300, {150, 80, 70, 20, 200}},
      {kNewListing, 0, 700, {310, 80, 70, 110, 130}},  // the next listing forgets them all
  };
  ColumnFit fit;
  EXPECT_TRUE(fit.Fit(500).empty());
  fit.SetWanted({200, 80, 70, 110, 130}, {{0, 80}, {3, 30}});
  for (const auto& step : steps) {
    if (step.dragged == kNewListing)
      fit.NewListing();
    else if (step.dragged >= 0)
      fit.UserResized(static_cast<std::size_t>(step.dragged), step.width);
    EXPECT_EQ(fit.Fit(step.available), step.widths) << step.dragged << " " << step.available;
  }
  // The same columns wanted anew (rows arrived) keep a dragged width; other columns do not.
  fit.UserResized(1, 99);
  fit.SetWanted({200, 90, 70, 110, 130}, {{0, 80}, {3, 30}});
  EXPECT_EQ(fit.Fit(700)[1], 99);
  fit.SetWanted({200, 90, 70, 110}, {{0, 80}, {3, 30}});
  EXPECT_EQ(fit.Fit(700), (std::vector<int>{430, 90, 70, 110}));
}

TEST(SizeControls, TwipsAtLogicalDpi) {
  EXPECT_EQ(TwipsToPixels(1440, 96), 96);
  EXPECT_EQ(TwipsToPixels(3600, 96), 240);
  EXPECT_EQ(TwipsToPixels(3600, 192), 480);
  EXPECT_DOUBLE_EQ(PixelsToTwips(96, 96), 1440);
}

TEST(Placement, DefaultsAndGarbledValues) {
  IniFile s;
  EXPECT_EQ(ReadPlacement(s), Placement{});
  s.Set("Settings", "MainLeft", "250");
  s.Set("Settings", "MainTop", "12abc");
  s.Set("Settings", "MainWidth", "nan");
  s.Set("Settings", "MainHeight", "  7000.5 ");
  const Placement p = ReadPlacement(s);
  EXPECT_EQ(p.Left, 250);
  EXPECT_EQ(p.Top, 1000);
  EXPECT_EQ(p.Width, 10000);
  EXPECT_EQ(p.Height, 7000.5);
  WritePlacement(s, {1.5, -20, 12000, 6500});
  EXPECT_EQ(s.Get("Settings", "MainLeft"), "1.5");
  EXPECT_EQ(s.Get("Settings", "MainTop"), "-20");
  EXPECT_EQ(ReadPlacement(s), (Placement{1.5, -20, 12000, 6500}));
}

TEST(Placement, WindowWhollyOffScreenComesBack) {
  const std::vector<Rect> screens{{0, 0, 1920, 1080}, {1920, 0, 1280, 1024}};
  const Placement partly{1800, 100, 800, 600};
  EXPECT_EQ(KeepOnScreen(partly, screens, screens[0]), partly);
  const Placement gone{5000, 4000, 800, 600};
  EXPECT_EQ(KeepOnScreen(gone, screens, screens[0]), (Placement{560, 240, 800, 600}));
  const Placement huge{-9000, -9000, 4000, 3000};
  EXPECT_EQ(KeepOnScreen(huge, screens, screens[0]), (Placement{0, 0, 1920, 1080}));
}

}  // namespace
}  // namespace kestrum
