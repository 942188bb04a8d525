#pragma once
#include <cstdint>
#include <optional>
#include <string_view>

namespace kestrum {

// A byte count as --min-size and the search's size fields take it: digits, then optionally
// k, M, G or T (any case) for 1024 to the power 1 to 4. nullopt when it is none or does not
// fit 64 bits.
std::optional<std::uint64_t> ParseByteCount(std::string_view text);
// A time as --newer and the search's date fields take it, in seconds since 1970:
// "YYYY-MM-DD" (local midnight), or "YYYY-MM-DDTHH:MM[:SS]" in local time, or followed by "Z" or an offset "+HH:MM" / "-HH:MM"
// (also "+HHMM", "+HH"). nullopt when it is none of those or names no real day or time.
std::optional<std::int64_t> ParseTimeText(std::string_view text);

}  // namespace kestrum
