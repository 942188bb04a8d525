#include "core/rows/list_cells.h"

#include <cfenv>
#include <cmath>

#include "core/platform/numbers.h"

namespace kestrum {

double ShareOf(double part, double whole) {
  if (part == 0 || whole == 0) return 0;
  const double f = part / whole;
  return std::isfinite(f) ? f : 0;
}

int BarLength(double fraction) {
  if (!(fraction > 0) || !std::isfinite(fraction)) return 0;
  if (fraction >= 1) return kBarWidth;
  // nearbyint rounds halves to even in the default rounding mode.
  return static_cast<int>(std::nearbyint(fraction * kBarWidth));
}

std::string BarText(double fraction) {
  return std::string(static_cast<std::size_t>(BarLength(fraction)), '|');
}

std::string PercentText(double fraction) {
  return FormatPercent(static_cast<float>(fraction * 100));
}

std::string SizeText(double bytes) { return FormatSize(bytes); }

std::string DateText(std::time_t when) {
  if (when == 0) return {};
  std::tm tm{};
  if (!localtime_r(&when, &tm)) return {};
  char buf[128];
  const std::size_t n = std::strftime(buf, sizeof buf, "%x %X", &tm);
  return std::string(buf, n);
}

}  // namespace kestrum
