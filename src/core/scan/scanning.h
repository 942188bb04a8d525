#pragma once
#include <atomic>

namespace kestrum {

// The stop flag, one of the two process flags: true while a discovery, a scan or another
// long command runs. Stop and window close clear it; the scanner tests it before each folder
// and file, and the file commands between entries.
extern std::atomic<bool> Scanning;

}  // namespace kestrum
