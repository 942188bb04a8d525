#pragma once
#include <atomic>

namespace kestrum {

// The two process flags. TraceOn is set once at start when the command line asks for the
// trace log and never changes afterwards. Scanning is true while a discovery or scan runs;
// Stop and window close clear it, and the scanner tests it before each folder and file.
extern std::atomic<bool> TraceOn;
extern std::atomic<bool> Scanning;

}  // namespace kestrum
