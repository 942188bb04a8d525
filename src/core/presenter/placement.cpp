#include "core/presenter/placement.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace kestrum {

namespace {

double ReadKey(const IniFile& s, const char* key, double fallback) {
  const auto text = s.Get(kSettingsGroup, key);
  if (!text) return fallback;
  // The text must be a number as a whole (surrounding blanks allowed); "12abc" is not one.
  const char* begin = text->c_str();
  char* end = nullptr;
  errno = 0;
  const float v = std::strtof(begin, &end);
  if (end == begin || errno == ERANGE || !std::isfinite(v)) return fallback;
  while (*end == ' ' || *end == '\t') ++end;
  return *end ? fallback : static_cast<double>(v);
}

std::string SingleText(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.7g", static_cast<double>(static_cast<float>(v)));
  return buf;
}

bool Overlaps(const Rect& a, const Rect& b) {
  return a.Left < b.Left + b.Width && b.Left < a.Left + a.Width && a.Top < b.Top + b.Height &&
         b.Top < a.Top + a.Height;
}

}  // namespace

Placement ReadPlacement(const IniFile& s) {
  const Placement d;
  return {ReadKey(s, "MainLeft", d.Left), ReadKey(s, "MainTop", d.Top),
          ReadKey(s, "MainWidth", d.Width), ReadKey(s, "MainHeight", d.Height)};
}

void WritePlacement(IniFile& s, const Placement& p) {
  s.Set(kSettingsGroup, "MainLeft", SingleText(p.Left));
  s.Set(kSettingsGroup, "MainTop", SingleText(p.Top));
  s.Set(kSettingsGroup, "MainWidth", SingleText(p.Width));
  s.Set(kSettingsGroup, "MainHeight", SingleText(p.Height));
}

Placement KeepOnScreen(const Placement& p, const std::vector<Rect>& screens, const Rect& primary) {
  if (screens.empty()) return p;
  const Rect w{p.Left, p.Top, p.Width, p.Height};
  for (const Rect& s : screens)
    if (Overlaps(w, s)) return p;
  Placement out = p;
  out.Width = std::min(p.Width, primary.Width);
  out.Height = std::min(p.Height, primary.Height);
  out.Left = primary.Left + (primary.Width - out.Width) / 2;
  out.Top = primary.Top + (primary.Height - out.Height) / 2;
  return out;
}

bool ReadSwitch(const IniFile& settings, const char* key, bool fallback) {
  const auto text = settings.Get(kSettingsGroup, key);
  if (!text) return fallback;
  if (*text == "1" || *text == "true") return true;
  if (*text == "0" || *text == "false") return false;
  return fallback;
}

void WriteSwitch(IniFile& settings, const char* key, bool on) {
  settings.Set(kSettingsGroup, key, on ? "1" : "0");
}

}  // namespace kestrum
