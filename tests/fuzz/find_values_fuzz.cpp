// Feeds arbitrary bytes to what --find reads from its command line: the size and time values
// and the pattern in each mode, which is then matched against the same bytes as a name. Each
// must refuse what it cannot read with a message (a pattern) or nothing (a value), never
// crash, hang or overrun. Built as json_import_fuzz is (-DKESTRUM_FUZZ=ON), run for a few
// seconds by scripts/test from an empty corpus.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/query/search_values.h"
#include "core/query/name_match.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  (void)kestrum::ParseByteCount(text);
  (void)kestrum::ParseTimeText(text);
  using Mode = kestrum::NameMatcher::Mode;
  for (const Mode mode : {Mode::Plain, Mode::Wildcard, Mode::Regex})
    for (const bool caseSensitive : {false, true}) {
      std::string error;
      const auto m = kestrum::NameMatcher::Make(text, mode, caseSensitive, error);
      if (m) {
        kestrum::NameMatcher::Scratch scratch;
        (void)m->Matches(text, scratch);
        (void)m->Matches(text.substr(size / 2), scratch);
      } else if (error.empty()) {
        __builtin_trap();  // a refused pattern always says why
      }
    }
  return 0;
}
