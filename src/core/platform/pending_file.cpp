#include "core/platform/pending_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace kestrum {

namespace {

std::string SelfPath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

mode_t ProcessUmask() {
  // Read, not set and reset: umask() would change it for every thread meanwhile.
  if (FILE* f = std::fopen("/proc/self/status", "re")) {
    char line[256];
    unsigned mask = 0;
    bool found = false;
    while (!found && std::fgets(line, sizeof line, f))
      found = std::sscanf(line, "Umask: %o", &mask) == 1;
    std::fclose(f);
    if (found) return static_cast<mode_t>(mask);
  }
  return 022;
}

}  // namespace

int PendingFile::Create(const std::string& folder, const std::string& target, bool unnamed) {
  Discard();
  target_ = target;
  if (unnamed) {
    fd_ = UniqueFd(::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666));
    if (fd_ && ::access(SelfPath(fd_.Get()).c_str(), F_OK) != 0) fd_.Reset();
    if (fd_) return 0;
  }
  std::string name = target + ".XXXXXX";
  fd_ = UniqueFd(::mkostemp(name.data(), O_CLOEXEC));
  if (!fd_) return errno;
  temp_ = std::move(name);
  ::fchmod(fd_.Get(), 0666 & ~ProcessUmask());
  return 0;
}

int PendingFile::Publish() {
  if (!fd_) return EBADF;
  if (temp_.empty()) {
    if (::linkat(AT_FDCWD, SelfPath(fd_.Get()).c_str(), AT_FDCWD, target_.c_str(),
                 AT_SYMLINK_FOLLOW) != 0)
      return errno;
    fd_.Reset();
    return 0;
  }
  // A late write error of a network file system shows only when the file is closed.
  if (::close(fd_.Release()) != 0) return errno;
  if (::renameat2(AT_FDCWD, temp_.c_str(), AT_FDCWD, target_.c_str(), RENAME_NOREPLACE) != 0) {
    if (errno != EINVAL) return errno;
    // A file system that cannot be asked not to replace: look first.
    if (::access(target_.c_str(), F_OK) == 0) return EEXIST;
    if (::rename(temp_.c_str(), target_.c_str()) != 0) return errno;
  }
  temp_.clear();
  return 0;
}

void PendingFile::Discard() {
  fd_.Reset();
  if (!temp_.empty()) ::unlink(temp_.c_str());
  temp_.clear();
}

}  // namespace kestrum
