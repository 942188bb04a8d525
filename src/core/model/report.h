#pragma once
#include <optional>
#include <string>
#include <vector>

namespace kestrum {

// Handles "--report PATH" (scan PATH without a window, print the result to standard output).
// Returns the exit status when args (argv without the program name) ask for a report,
// nullopt otherwise, so that the window starts.
std::optional<int> MaybeRunReport(const std::vector<std::string>& args);

}  // namespace kestrum
