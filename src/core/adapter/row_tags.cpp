#include "core/adapter/row_tags.h"

#include <cmath>
#include <cstdio>

namespace kestrum {

namespace {

std::string WholeNumber(double size) {
  char buf[64];
  // Byte counts are whole numbers; %.0f writes them without exponent or grouping.
  const int n = std::snprintf(buf, sizeof buf, "%.0f", std::isfinite(size) ? size : 0.0);
  return std::string(buf, n > 0 ? static_cast<std::size_t>(n) : 0);
}

}  // namespace

std::string FileTag(double size) { return "File " + WholeNumber(size); }

std::string RemovedTag(double size) { return "Removed " + WholeNumber(size); }

}  // namespace kestrum
