#include "core/views/row_tags.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace kestrum {

std::string FileTag(double size) {
  char buf[64];
  // Byte counts are whole numbers; %.0f writes them without exponent or grouping.
  const int n = std::snprintf(buf, sizeof buf, "%.0f", std::isfinite(size) ? size : 0.0);
  return "File " + std::string(buf, n > 0 ? static_cast<std::size_t>(n) : 0);
}

double FileTagSize(const ItemValue& tag) {
  const std::string* s = std::get_if<std::string>(&tag);
  if (!s || s->size() <= 5 || s->compare(0, 4, "File") != 0) return 0;
  double value = 0;
  const char* first = s->data() + 5;
  const char* last = s->data() + s->size();
  const auto [ptr, ec] = std::from_chars(first, last, value);
  return ec == std::errc() ? value : 0;
}

}  // namespace kestrum
