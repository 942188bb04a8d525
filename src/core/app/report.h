#pragma once
#include <optional>
#include <string>
#include <vector>

namespace kestrum {

// Handles "--report PATH" (scan PATH without a window, print the result to standard output),
// "--report --import FILE..." (the same report of each saved scan; "--hard-links=each" counts
// every name of a linked file) and "--export FILE PATH" (scan PATH into FILE in the JSON
// export format, "-" for standard output). Texts given to --export and --import never turn
// tracing on.
// Returns the exit status when args (argv without the program name) ask for a report,
// nullopt otherwise, so that the window starts.
std::optional<int> MaybeRunReport(const std::vector<std::string>& args);

}  // namespace kestrum
