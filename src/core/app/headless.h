#pragma once
#include <optional>
#include <string>

#include "core/app/command_line.h"

namespace kestrum {

// Does what line asks when it asks for no window, as either program: prints the usage
// (Help on standard output, Usage on standard error) or the version; names the first of
// line's mistakes on standard error and exits 2, with nothing on standard output; otherwise
// starts the trace log when asked and prints the report of a folder or of each saved scan, or
// writes the export of a folder. A path that is not a folder is a mistake too (exit 2); a scan,
// import, export or write that fails exits 1. invokedAs is argv[0]: the usage is given under
// its last component. Returns the exit status, or nullopt when line asks for the window.
std::optional<int> RunWithoutWindow(const CommandLine& line, const std::string& invokedAs);

}  // namespace kestrum
