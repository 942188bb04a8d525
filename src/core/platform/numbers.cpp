#include "core/platform/numbers.h"

#include <cmath>
#include <cstdio>

namespace kestrum {

std::string PlainNumber(double value, const std::string& sep) {
  char buf[64];
  if (!std::isfinite(value)) {
    std::snprintf(buf, sizeof buf, "%g", value);
    return buf;
  }
  if (value == std::trunc(value) && std::fabs(value) < 1e18) {
    std::snprintf(buf, sizeof buf, "%.0f", value);
    return buf;
  }
  std::snprintf(buf, sizeof buf, "%.15g", value);
  std::string out = buf;
  // snprintf writes the C locale's point; the caller chooses the separator.
  if (const auto dot = out.find_first_of(".,"); dot != std::string::npos) out.replace(dot, 1, sep);
  return out;
}

}  // namespace kestrum
