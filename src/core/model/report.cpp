#include "core/model/report.h"

namespace kestrum {

std::optional<int> MaybeRunReport(const std::vector<std::string>&) { return std::nullopt; }

}  // namespace kestrum
