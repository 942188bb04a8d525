#include "core/globals.h"

namespace kestrum {
std::atomic<bool> TraceOn{false};
std::atomic<bool> Scanning{false};
}  // namespace kestrum
