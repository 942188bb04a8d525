#pragma once
#include <string>
#include <vector>

namespace kestrum {

// True when "trace" occurs anywhere in the command line (the arguments joined by blanks),
// in any letter case: "TRACE", "/trace" and "tracefile.txt" all count.
bool CommandLineAsksForTrace(const std::vector<std::string>& args);

}  // namespace kestrum
