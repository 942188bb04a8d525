#include "core/fileops/seam.h"

#include <dirent.h>
#include <unistd.h>

namespace kestrum {

FileOpsSeam SystemSeam() {
  FileOpsSeam s;
  s.OpenAt = [](int dirFd, const char* name, int flags) {
    return ::openat(dirFd, name, flags | O_CLOEXEC);
  };
  s.Statx = [](int dirFd, const char* name, int flags, unsigned mask, struct statx* out) {
    return ::statx(dirFd, name, flags, mask, out);
  };
  s.UnlinkAt = [](int dirFd, const char* name, int flags) {
    return ::unlinkat(dirFd, name, flags);
  };
  s.GetDents = [](int fd, void* buffer, unsigned long size) -> long {
    return ::getdents64(fd, buffer, size);
  };
  s.AccessAt = [](int dirFd, const char* name, int mode, int flags) {
    return ::faccessat(dirFd, name, mode, flags);
  };
  s.FStatVfs = [](int fd, struct statvfs* out) { return ::fstatvfs(fd, out); };
  s.Read = [](int fd, void* buffer, size_t size) { return ::read(fd, buffer, size); };
  return s;
}

}  // namespace kestrum
