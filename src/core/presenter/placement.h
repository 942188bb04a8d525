#pragma once
#include <vector>

#include "core/platform/settings.h"
#include "core/presenter/layout.h"

namespace kestrum {

// The main window's left, top, width and height in twips.
struct Placement {
  double Left = 1000, Top = 1000, Width = 10000, Height = 6500;
  bool operator==(const Placement&) const = default;
};

inline constexpr const char* kSettingsGroup = "Settings";

// Reads "MainLeft", "MainTop", "MainWidth", "MainHeight" from [Settings]. A missing key, or a
// value that is not a finite number, gives that key's default.
Placement ReadPlacement(const IniFile& settings);
// Writes the four keys, each as the text of a single-precision number.
void WritePlacement(IniFile& settings, const Placement& p);

// A switch of the View menu kept between sessions (the hard-link rule): "1" or "0" under
// key in [Settings]. A missing key, or any other text, gives fallback.
inline constexpr const char* kHardLinksOnceKey = "CountHardLinksOnce";
inline constexpr const char* kKeepHistoryKey = "KeepScanHistory";
inline constexpr const char* kCrossFileSystemsKey = "CrossFileSystems";
bool ReadSwitch(const IniFile& settings, const char* key, bool fallback);
void WriteSwitch(IniFile& settings, const char* key, bool on);

// The placement moved onto the primary screen when the window would be wholly off every
// screen (all rectangles in the same unit); otherwise unchanged. No screens: unchanged.
Placement KeepOnScreen(const Placement& p, const std::vector<Rect>& screens, const Rect& primary);

}  // namespace kestrum
