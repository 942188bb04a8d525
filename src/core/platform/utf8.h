#pragma once
#include <string_view>

namespace kestrum {

// True when text is strict UTF-8 (no overlong forms, surrogates, values past U+10FFFF or NUL
// bytes), as GLib validates it. Names and patterns are checked with it before they are taken
// as text; anything else is handled as bytes.
bool IsValidUtf8(std::string_view text);
// True when every byte of text is below 0x80.
bool IsAscii(std::string_view text);

}  // namespace kestrum
