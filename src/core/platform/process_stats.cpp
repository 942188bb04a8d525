#include "core/platform/process_stats.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>

namespace kestrum {

bool ReadSchedStat(int fd, std::int64_t& cpu, std::int64_t& queued) {
  if (fd < 0) return false;
  char buf[96];
  const ssize_t n = ::pread(fd, buf, sizeof buf - 1, 0);
  if (n <= 0) return false;
  buf[n] = 0;
  char* end = nullptr;
  cpu = std::strtoll(buf, &end, 10);
  if (end == buf) return false;
  char* after = nullptr;
  queued = std::strtoll(end, &after, 10);
  if (after == end) queued = 0;
  return true;
}

bool ReadCpuClock(clockid_t clock, std::int64_t& ns) {
  timespec t{};
  if (::clock_gettime(clock, &t) != 0) return false;
  ns = static_cast<std::int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
  return true;
}

ResidentMemory::ResidentMemory() : fd_(::open("/proc/self/statm", O_RDONLY | O_CLOEXEC)) {
  const long page = ::sysconf(_SC_PAGESIZE);
  if (page > 0) page_ = static_cast<std::size_t>(page);
}

std::size_t ResidentMemory::Bytes() const {
  // "<size> <resident> <shared> ..." in pages.
  char buf[128];
  const ssize_t n = fd_ ? ::pread(fd_.Get(), buf, sizeof buf - 1, 0) : -1;
  if (n <= 0) return 0;
  buf[n] = 0;
  char* end = nullptr;
  std::strtoull(buf, &end, 10);
  if (end == buf) return 0;
  char* after = nullptr;
  const unsigned long long resident = std::strtoull(end, &after, 10);
  if (after == end) return 0;
  return static_cast<std::size_t>(resident) * page_;
}

}  // namespace kestrum
