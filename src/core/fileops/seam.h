#pragma once
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/types.h>

#include <functional>

namespace kestrum {

// The system calls the file commands make, as a small table of functions, so that a test can
// replace one entry to make a call fail (a file that vanishes, a disk error, a mount made
// meanwhile, a file no permission stops root from reading) at exactly the step it wants.
// Delete and trash call nothing else on the file system; the zip writer opens and reads the
// files it packs through OpenAt and Read. Each function behaves as the system call of its
// name: -1 and errno on failure.
struct FileOpsSeam {
  std::function<int(int dirFd, const char* name, int flags)> OpenAt;
  std::function<int(int dirFd, const char* name, int flags, unsigned mask, struct statx* out)>
      Statx;
  std::function<int(int dirFd, const char* name, int flags)> UnlinkAt;
  // Reads directory entries in the kernel's linux_dirent64 layout; 0 at the end.
  std::function<long(int fd, void* buffer, unsigned long size)> GetDents;
  std::function<int(int dirFd, const char* name, int mode, int flags)> AccessAt;
  std::function<int(int fd, struct statvfs* out)> FStatVfs;
  std::function<ssize_t(int fd, void* buffer, size_t size)> Read;
};

// The table that calls the system.
FileOpsSeam SystemSeam();

}  // namespace kestrum
