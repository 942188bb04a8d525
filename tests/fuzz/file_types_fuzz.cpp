// Feeds arbitrary bytes to the file-type classifier as a file name, with and without the
// executable bit: any name (not UTF-8, control bytes, dots anywhere, very long) gets a type
// without a crash or an overrun, and its key is one the classifier holds.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/query/file_types.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static kestrum::FileTypes types;  // grows as the fuzzer meets new endings, as in a count
  const std::string_view name(reinterpret_cast<const char*>(data), size);
  std::array<char, 16> buffer;
  if (kestrum::NameEnding(name, buffer).size() > 14) __builtin_trap();
  for (const bool executable : {false, true}) {
    const kestrum::FileType t = types.Classify(name, executable);
    if (t.Index >= types.Count() || types.Category(t.Index) != t.Category) __builtin_trap();
  }
  return 0;
}
