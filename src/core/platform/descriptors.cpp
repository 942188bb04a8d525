#include "core/platform/descriptors.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

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

void ReserveDescriptorTable(std::size_t count) {
  const std::size_t n = std::min(count, DescriptorLimit());
  if (n < 2) return;
  const int any = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (any < 0) return;
  // The lowest free descriptor at or above n - 1: never one in use, which dup2 would close.
  const int high = ::fcntl(any, F_DUPFD_CLOEXEC, static_cast<int>(n - 1));
  ::close(any);
  if (high >= 0) ::close(high);
}

}  // namespace kestrum
