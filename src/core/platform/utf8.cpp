#include "core/platform/utf8.h"

#include <glib.h>

#include <algorithm>

namespace kestrum {

bool IsValidUtf8(std::string_view text) {
  if (text.empty()) return true;
  return g_utf8_validate_len(text.data(), text.size(), nullptr) != FALSE;
}

bool IsAscii(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return (static_cast<unsigned char>(c) & 0x80) == 0; });
}

}  // namespace kestrum
