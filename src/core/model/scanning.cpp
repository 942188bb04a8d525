#include "core/model/scanning.h"

namespace kestrum {
std::atomic<bool> Scanning{false};
}  // namespace kestrum
