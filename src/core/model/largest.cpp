#include "core/model/disk_model.h"

namespace kestrum {

// Placeholder until the largest-files list is built with the scanner.
void DiskObject::AddLargest(const std::string&, double, double, std::int32_t&) {}

}  // namespace kestrum
