#pragma once
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace kestrum::test {

// The pairs of colours (0xRRGGBB) that come closer than minimum when seen through simulated
// colour-vision deficiencies (Machado, Oliveira and Fernandes 2009, severity 1, applied to
// linear RGB), measured as CIE76 distances in CIELAB; one text per pair, "" when none.
inline std::vector<std::string> PaletteClashes(const std::vector<std::uint32_t>& colours,
                                               double minimum) {
  using M3 = std::array<std::array<double, 3>, 3>;
  const std::pair<const char*, M3> kinds[] = {
      {"normal", {{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}}},
      {"protanopia",
       {{{0.152286, 1.052583, -0.204868},
         {0.114503, 0.786281, 0.099216},
         {-0.003882, -0.048116, 1.051998}}}},
      {"deuteranopia",
       {{{0.367322, 0.860646, -0.227968},
         {0.280085, 0.672501, 0.047413},
         {-0.011820, 0.042940, 0.968881}}}},
      {"tritanopia",
       {{{1.255528, -0.076749, -0.178779},
         {-0.078411, 0.930809, 0.147602},
         {0.004733, 0.691367, 0.303900}}}},
  };
  auto lab = [](std::uint32_t rgb, const M3& m) {
    double lin[3], o[3];
    for (int i = 0; i < 3; ++i) {
      const double c = ((rgb >> (16 - 8 * i)) & 255) / 255.0;
      lin[i] = c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    }
    for (int i = 0; i < 3; ++i)
      o[i] = std::clamp(m[i][0] * lin[0] + m[i][1] * lin[1] + m[i][2] * lin[2], 0.0, 1.0);
    const double x = (0.4124 * o[0] + 0.3576 * o[1] + 0.1805 * o[2]) / 0.95047;
    const double y = 0.2126 * o[0] + 0.7152 * o[1] + 0.0722 * o[2];
    const double z = (0.0193 * o[0] + 0.1192 * o[1] + 0.9505 * o[2]) / 1.08883;
    auto f = [](double t) { return t > 0.008856 ? std::cbrt(t) : 7.787 * t + 16.0 / 116; };
    return std::array<double, 3>{116 * f(y) - 16, 500 * (f(x) - f(y)), 200 * (f(y) - f(z))};
  };
  std::vector<std::string> clashes;
  for (const auto& [name, m] : kinds)
    for (std::size_t a = 0; a < colours.size(); ++a)
      for (std::size_t b = 0; b < a; ++b) {
        const auto p = lab(colours[a], m), q = lab(colours[b], m);
        const double d = std::hypot(p[0] - q[0], p[1] - q[1], p[2] - q[2]);
        if (d < minimum) {
          char text[96];
          std::snprintf(text, sizeof text, "%s: %06x and %06x are %.1f apart", name,
                        static_cast<unsigned>(colours[a]), static_cast<unsigned>(colours[b]), d);
          clashes.push_back(text);
        }
      }
  return clashes;
}

}  // namespace kestrum::test
