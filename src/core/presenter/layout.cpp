#include "core/presenter/layout.h"

#include <algorithm>
#include <numeric>

namespace kestrum {

using namespace layout;

LayoutResult SizeControls(double x, bool& firstLayout, const LayoutInput& in) {
  if (firstLayout) {
    x = kFirstTreeWidth;
    firstLayout = false;
  }
  LayoutResult r;
  r.Splitter = x;
  r.Tree.Left = 0;
  r.Tree.Width = x;
  r.SplitterBar.Left = x;
  r.List.Left = x + kTreeListGap;
  r.List.Width = in.WindowWidth - (r.Tree.Width + kWidthAllowance);
  r.Tree.Top = in.ToolbarVisible ? in.ToolbarHeight + kToolbarGap : 0;
  r.Label.Top = r.Tree.Top;
  r.Label.Left = r.List.Left + kLabelInsetLeft;
  r.Label.Width = r.List.Width - kLabelInsetWidth;
  r.Label.Height = in.LabelHeight;
  r.List.Top = r.Tree.Top + in.LabelHeight;
  r.Tree.Height = in.InnerHeight - r.Tree.Top - (in.StatusBarVisible ? in.StatusBarHeight : 0);
  r.List.Height = r.Tree.Height - in.LabelHeight + kListOverhang;
  r.SplitterBar.Top = r.Tree.Top;
  r.SplitterBar.Height = r.Tree.Height;
  r.SplitterBar.Width = kTreeListGap;  // the splitter fills the gap between tree and list
  r.Chart.Left = r.List.Left + kChartLeft;
  r.Chart.Width = r.List.Width - kChartWidth;
  r.Chart.Top = r.List.Top + kChartTop;
  r.Chart.Height = r.List.Height - kChartHeight;
  return r;
}

double DragBarLeft(double splitterLeft, double mouseX, double windowWidth) {
  const double p = splitterLeft + mouseX;
  if (p < kSplitterLimit) return kSplitterLimit;
  if (p > windowWidth - kSplitterLimit) return windowWidth - kSplitterLimit;
  return p;
}

Rect DragBarRect(const Rect& splitter) {
  return Rect{splitter.Left, splitter.Top,
              static_cast<double>(static_cast<long>(splitter.Width) / 2),
              splitter.Height - kDragBarAllowance};
}

std::vector<int> FitColumns(std::vector<int> wanted, const std::vector<YieldingColumn>& yielding,
                            int available) {
  long long over = std::accumulate(wanted.begin(), wanted.end(), 0LL) - available;
  for (const YieldingColumn& y : yielding) {
    if (over <= 0) break;
    if (y.Column >= wanted.size()) continue;
    int& w = wanted[y.Column];
    const int give = static_cast<int>(std::min<long long>(over, std::max(0, w - y.Minimum)));
    w -= give;
    over -= give;
  }
  return wanted;
}

void ColumnFit::SetWanted(std::vector<int> wanted, std::vector<YieldingColumn> yielding) {
  if (wanted.size() != wanted_.size()) user_.clear();
  wanted_ = std::move(wanted);
  yielding_ = std::move(yielding);
}

void ColumnFit::UserResized(std::size_t column, int width) {
  if (column >= wanted_.size()) return;
  user_.resize(wanted_.size(), 0);
  user_[column] = std::max(width, 1);
}

std::vector<int> ColumnFit::Fit(int available) const {
  std::vector<int> widths = wanted_;
  std::vector<YieldingColumn> yielding;
  for (std::size_t i = 0; i < widths.size(); ++i)
    if (UserSized(i)) widths[i] = user_[i];
  for (const YieldingColumn& y : yielding_)
    if (!UserSized(y.Column)) yielding.push_back(y);
  widths = FitColumns(std::move(widths), yielding, available);
  if (!widths.empty() && !UserSized(0)) {
    const long long left = available - std::accumulate(widths.begin(), widths.end(), 0LL);
    if (left > 0) widths[0] += static_cast<int>(left);
  }
  return widths;
}

}  // namespace kestrum
