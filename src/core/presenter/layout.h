#pragma once
#include <cstddef>
#include <vector>

namespace kestrum {

// Twips are the layout's unit: 1440 per inch, converted at the screen's logical DPI.
inline constexpr int kTwipsPerInch = 1440;
inline int TwipsToPixels(double twips, double dpi) {
  return static_cast<int>(twips * dpi / kTwipsPerInch + (twips >= 0 ? 0.5 : -0.5));
}
inline double PixelsToTwips(int pixels, double dpi) { return pixels * kTwipsPerInch / dpi; }

struct Rect {
  double Left = 0, Top = 0, Width = 0, Height = 0;
  bool operator==(const Rect&) const = default;
};

// Everything the layout reads from the window, in twips.
struct LayoutInput {
  double WindowWidth = 0;  // outer width of the window
  double InnerHeight = 0;  // height of the client area
  bool ToolbarVisible = true;
  double ToolbarHeight = 0;
  bool StatusBarVisible = true;
  double StatusBarHeight = 0;
  double LabelHeight = 0;
};

struct LayoutResult {
  double Splitter = 0;  // the splitter position actually used (and the tree's width)
  Rect Tree, Label, List, Chart, SplitterBar;
};

namespace layout {
inline constexpr double kFirstTreeWidth = 3600;
inline constexpr double kMinWindowWidth = 3000;
inline constexpr double kSplitterLimit = 500;
inline constexpr double kTreeListGap = 40;
inline constexpr double kWidthAllowance = 140;
inline constexpr double kToolbarGap = 20;
inline constexpr double kLabelInsetLeft = 20;
inline constexpr double kLabelInsetWidth = 40;
inline constexpr double kListOverhang = 20;
inline constexpr double kChartLeft = 20, kChartWidth = 50, kChartTop = 5, kChartHeight = 45;
inline constexpr double kDragBarAllowance = 20;
}  // namespace layout

// Lays the main window out with the splitter at x. On the first layout (firstLayout true,
// cleared here) the splitter goes to 3600 whatever x was.
LayoutResult SizeControls(double x, bool& firstLayout, const LayoutInput& in);

// Where the drag bar goes for a mouse at splitter-relative offset mouseX: at least 500 from
// either edge of the window.
double DragBarLeft(double splitterLeft, double mouseX, double windowWidth);

// The drag bar shown while the splitter is dragged: at the splitter, half its width, and
// 20 shorter.
Rect DragBarRect(const Rect& splitter);

// A list column that may give way when the list is too narrow, and how far.
struct YieldingColumn {
  std::size_t Column;
  int Minimum;
};

// The widths of the list's columns within available: each column as wide as it wants; while
// they are wider than available together, the yielding columns give way in their order,
// each down to its minimum (never below, nor wider than it wanted). What still does not fit
// scrolls.
std::vector<int> FitColumns(std::vector<int> wanted, const std::vector<YieldingColumn>& yielding,
                            int available);

// The list's columns fitted to the list, in pixels, on every resize of it. The first column
// (the name) takes what the others leave; while the list is too narrow for all, the yielding
// columns give way as FitColumns has them, the name first. A column the user dragged keeps
// the width given, through resizes, until the next listing: it neither gives way nor takes
// what is left (with the name dragged, the room left over stays empty).
class ColumnFit {
 public:
  // The columns of what the list shows: what each wants (its texts whole), and which may
  // give way. Widths the user gave stay while the columns are as many as before.
  void SetWanted(std::vector<int> wanted, std::vector<YieldingColumn> yielding);
  // A new listing: widths the user gave are forgotten.
  void NewListing() { user_.clear(); }
  // The user dragged column to width pixels.
  void UserResized(std::size_t column, int width);
  bool UserSized(std::size_t column) const { return column < user_.size() && user_[column] > 0; }
  // The widths for a list available pixels wide; none before SetWanted.
  std::vector<int> Fit(int available) const;

 private:
  std::vector<int> wanted_;
  std::vector<YieldingColumn> yielding_;
  std::vector<int> user_;  // per column: the user's width, 0 where none
};

}  // namespace kestrum
