#include "core/platform/descriptors.h"

#include <sys/resource.h>

#include <algorithm>

namespace kestrum {

namespace {
constexpr rlim_t kLargest = rlim_t{1} << 20;
}

std::size_t DescriptorLimit() {
  struct rlimit r {};
  if (::getrlimit(RLIMIT_NOFILE, &r) != 0) return 1024;
  if (r.rlim_cur == RLIM_INFINITY || r.rlim_cur > kLargest) return kLargest;
  return static_cast<std::size_t>(r.rlim_cur);
}

void RaiseDescriptorLimit(std::size_t most) {
  struct rlimit r {};
  if (::getrlimit(RLIMIT_NOFILE, &r) != 0) return;
  const rlim_t want = std::min<rlim_t>(static_cast<rlim_t>(most), r.rlim_max);
  if (r.rlim_cur != RLIM_INFINITY && r.rlim_cur < want) {
    r.rlim_cur = want;
    ::setrlimit(RLIMIT_NOFILE, &r);
  }
}

}  // namespace kestrum
