#pragma once
#include <string_view>

namespace kestrum {

// Writes one line to the trace log when the log has been started; does nothing otherwise.
// Safe to call from any thread. Callers test TraceOn first so that no text is built when
// tracing is off.
void Trace(std::string_view message);

// Opens the trace log (the executable's name with ".tra" in its folder, truncated) and
// writes its header. Called once by start-up when TraceOn is set.
void StartTrace();

}  // namespace kestrum
