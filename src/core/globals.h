#pragma once
#include <atomic>

namespace kestrum {

// The two process flags. TraceOn is set once at start when the command line asks for the
// trace log and never changes afterwards. Scanning is true while a discovery or scan runs;
// Stop and window close clear it, and the scanner tests it before each folder and file.
extern std::atomic<bool> TraceOn;
extern std::atomic<bool> Scanning;

#ifndef KESTRUM_TRACE_SITES
#define KESTRUM_TRACE_SITES 1
#endif

// The guard of every trace call: true while the trace log is on. A build made with
// KESTRUM_TRACE_SITES=0 (the benchmark's, to show what the guarded call sites cost while
// tracing is off) folds them all away.
inline bool Tracing() { return KESTRUM_TRACE_SITES && TraceOn.load(std::memory_order_relaxed); }

}  // namespace kestrum
