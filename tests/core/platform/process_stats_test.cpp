// The process and thread figures the scan's reader count is decided from.
#include "core/platform/process_stats.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <string>

#include "core/platform/descriptors.h"

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

// The size of this process's descriptor table, from /proc/self/status ("FDSize:").
std::size_t TableSize() {
  std::ifstream in("/proc/self/status");
  std::string key;
  std::size_t value = 0;
  while (in >> key) {
    if (key == "FDSize:" && in >> value) return value;
  }
  return 0;
}

std::size_t OpenDescriptors() {
  std::size_t n = 0;
  if (DIR* d = ::opendir("/proc/self/fd")) {
    while (::readdir(d)) ++n;
    ::closedir(d);
  }
  return n;
}

TEST(Descriptors, TheTableIsReservedWithoutClosingOrLeavingAnything) {
  const std::size_t before = TableSize();
  ASSERT_GT(before, 0u);
  const std::size_t want = std::min(DescriptorLimit(), std::max<std::size_t>(2 * before, 512));
  ASSERT_GT(want, before);
  const std::size_t open = OpenDescriptors();
  ReserveDescriptorTable(want);
  EXPECT_GE(TableSize(), want);
  EXPECT_EQ(OpenDescriptors(), open);
  // A descriptor in use where a reservation reaches stays open, on the same file.
  const int mine = ::open("/proc/self/status", O_RDONLY | O_CLOEXEC);
  ASSERT_GE(mine, 0);
  const int high = ::fcntl(mine, F_DUPFD_CLOEXEC, static_cast<int>(want - 1));
  ::close(mine);
  ASSERT_GE(high, 0);
  ReserveDescriptorTable(static_cast<std::size_t>(high) + 1);
  char buf[7] = {};
  EXPECT_GT(::pread(high, buf, sizeof buf - 1, 0), 0);
  EXPECT_STREQ(buf, "Name:\t");
  ::close(high);
  // Beyond the limit it reaches the limit, and leaves nothing open.
  ReserveDescriptorTable(std::size_t{1} << 40);
  EXPECT_EQ(OpenDescriptors(), open);
}

}  // namespace
}  // namespace kestrum
