#include "core/scan/scanning.h"

namespace kestrum {
std::atomic<bool> Scanning{false};
}  // namespace kestrum
