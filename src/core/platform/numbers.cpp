#include "core/platform/numbers.h"

#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdint>
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

std::string FixedText(double value, int decimals) {
  char buf[512];
  const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals);
  return r.ec == std::errc() ? std::string(buf, r.ptr) : PlainNumber(value);
}

std::string DecimalSeparator() {
  const lconv* lc = std::localeconv();
  return lc && lc->decimal_point && *lc->decimal_point ? std::string(lc->decimal_point) : ".";
}

std::string FormatSize(double bytes, const std::string& sep) {
  if (bytes == 0) return "0 b";
  if (std::isfinite(bytes)) {
    struct Unit {
      double divisor;
      const char* name;
    };
    static constexpr Unit kUnits[] = {{1073741824.0, " gb"}, {1048576.0, " mb"}, {1024.0, " kb"}};
    for (const Unit& u : kUnits) {
      const double t = bytes / u.divisor;
      if (std::trunc(t) > 0) {
        // Cut to two decimals in whole hundredths, so the text never rounds up.
        const auto hundredths = static_cast<std::int64_t>(std::trunc(t * 100));
        const std::int64_t whole = hundredths / 100, frac = hundredths % 100;
        std::string out = std::to_string(whole) + sep;
        if (frac % 10 == 0)
          out += std::to_string(frac / 10);
        else
          out += (frac < 10 ? "0" : "") + std::to_string(frac);
        return out + u.name;
      }
    }
  }
  return PlainNumber(bytes, sep) + " b";
}

std::string FormatPercent(float percent, const std::string& sep) {
  if (percent == 0) return "0";
  char buf[64];
  const double rounded = std::round(static_cast<double>(percent) * 10.0) / 10.0;
  std::snprintf(buf, sizeof buf, "%.1f", rounded);
  std::string out = buf;
  if (const auto dot = out.find_first_of(".,"); dot != std::string::npos) out.replace(dot, 1, sep);
  return out;
}

}  // namespace kestrum
