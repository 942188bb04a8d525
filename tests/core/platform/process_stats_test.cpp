// The process and thread figures the scan's reader count is decided from.
#include "core/platform/process_stats.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <string>

namespace kestrum {
namespace {

// A descriptor whose content is text, as /proc gives it: read with pread from the start.
int FileWith(const std::string& text) {
  char name[] = "/tmp/kestrum-statsXXXXXX";
  const int fd = ::mkstemp(name);
  ::unlink(name);
  if (fd >= 0 && ::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
    ::close(fd);
    return -1;
  }
  return fd;
}

TEST(ProcessStats, SchedStatLines) {
  struct Case {
    const char* text;
    bool ok;
    std::int64_t cpu, queued;
  } cases[] = {
      {"123456789 2345 17\n", true, 123456789, 2345},
      {"98765\n", true, 98765, 0},  // a kernel that gives the running time alone
      {"", false, 0, 0},
      {"garbled\n", false, 0, 0},
  };
  for (const Case& c : cases) {
    const int fd = FileWith(c.text);
    ASSERT_GE(fd, 0);
    std::int64_t cpu = -1, queued = -1;
    EXPECT_EQ(ReadSchedStat(fd, cpu, queued), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(cpu, c.cpu) << c.text;
      EXPECT_EQ(queued, c.queued) << c.text;
    }
    ::close(fd);
  }
  std::int64_t cpu = 0, queued = 0;
  EXPECT_FALSE(ReadSchedStat(-1, cpu, queued));
}

TEST(ProcessStats, ResidentMemoryAndThreadClockFollowTheProcess) {
  ResidentMemory resident;
  const std::size_t before = resident.Bytes();
  ASSERT_GT(before, 0u);
  // Memory mapped is not resident until touched; then it is.
  constexpr std::size_t kBlock = 32u << 20;
  void* p = ::mmap(nullptr, kBlock, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(p, MAP_FAILED);
  EXPECT_LT(resident.Bytes(), before + (8u << 20));
  std::memset(p, 1, kBlock);
  EXPECT_GE(resident.Bytes(), before + (24u << 20));
  ::munmap(p, kBlock);
  // This thread's clock reads, and has counted the work above.
  clockid_t clock{};
  ASSERT_EQ(::pthread_getcpuclockid(::pthread_self(), &clock), 0);
  std::int64_t ns = 0;
  ASSERT_TRUE(ReadCpuClock(clock, ns));
  EXPECT_GT(ns, 0);
}

}  // namespace
}  // namespace kestrum
