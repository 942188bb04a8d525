#pragma once
#include <cstddef>
#include <cstdint>
#include <ctime>

#include "core/platform/unique_fd.h"

namespace kestrum {

// A thread's time on a processor and its time runnable but waiting for one, in nanoseconds,
// read through fd, its open /proc/<tid>/schedstat ("<on cpu> <waiting on a run queue>
// <timeslices>"): finer than the clock ticks of its stat. False when fd is -1 or gives no
// figures; a kernel that gives only the first figure reads as never queued.
bool ReadSchedStat(int fd, std::int64_t& cpu, std::int64_t& queued);

// A CPU-time clock's reading (a thread's, from pthread_getcpuclockid), in nanoseconds, into
// ns; false, leaving ns alone, when it cannot be read (the thread has ended).
bool ReadCpuClock(clockid_t clock, std::int64_t& ns);

// The memory the process holds in RAM (its resident set, what a peak-memory figure measures),
// from /proc/self/statm, kept open so that each reading is one read.
class ResidentMemory {
 public:
  ResidentMemory();
  // Bytes resident now; 0 when the kernel does not tell.
  std::size_t Bytes() const;

 private:
  UniqueFd fd_;
  std::size_t page_ = 4096;
};

}  // namespace kestrum
