#pragma once
#include <atomic>
#include <string_view>

namespace kestrum {

// The trace switch, one of the two process flags: set once at start when the command line
// asks for the trace log and never changed afterwards.
extern std::atomic<bool> TraceOn;

#ifndef KESTRUM_TRACE_SITES
#define KESTRUM_TRACE_SITES 1
#endif

// The guard of every trace call: true while the trace log is on. A build made with
// KESTRUM_TRACE_SITES=0 (the benchmark's, to show what the guarded call sites cost while
// tracing is off) folds them all away.
inline bool Tracing() { return KESTRUM_TRACE_SITES && TraceOn.load(std::memory_order_relaxed); }

// Writes one line to the trace log when the log has been started; does nothing otherwise.
// Safe to call from any thread. Callers test Tracing() first so that no text is built when
// tracing is off.
void Trace(std::string_view message);

// Opens the trace log (the executable's name with ".tra" in its folder, truncated) and
// writes its header. Called once by start-up when TraceOn is set.
void StartTrace();

}  // namespace kestrum
