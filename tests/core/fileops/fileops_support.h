#pragma once
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "core/fileops/file_target.h"
#include "core/platform/open_folder.h"

namespace kestrum::test {

// A target for the object at path, on a volume whose root is volumeRoot.
inline FileTarget TargetFor(const std::string& volumeRoot, const std::string& path, bool isFolder) {
  FileTarget t;
  SplitPath s = SplitLastName(path);
  t.Folder = s.Folder;
  t.Name = s.Name;
  t.FullPath = path;
  t.VolumeRoot = volumeRoot + "/";
  t.IsFolder = isFolder;
  return t;
}

inline bool Exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

// A mount made for a test and undone when it goes. Tests that need one skip when the
// machine refuses (no privilege to mount).
class TestMount {
 public:
  TestMount(const std::string& source, const std::string& target, const char* type,
            unsigned long flags, const char* data = nullptr)
      : target_(target) {
    ok_ = ::mount(source.c_str(), target.c_str(), type, flags, data) == 0;
  }
  ~TestMount() {
    if (ok_) ::umount2(target_.c_str(), MNT_DETACH);
  }
  TestMount(const TestMount&) = delete;
  TestMount& operator=(const TestMount&) = delete;
  bool Ok() const { return ok_; }

 private:
  std::string target_;
  bool ok_ = false;
};

// A chain of depth folders "d" below root, each holding an empty file "f". Built through
// descriptors, as the paths soon pass PATH_MAX.
inline bool MakeDeepChain(const std::string& root, int depth) {
  int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY);
  if (fd < 0) return false;
  for (int i = 0; i < depth; ++i) {
    const int f = ::openat(fd, "f", O_WRONLY | O_CREAT, 0644);
    if (f < 0) return false;
    ::close(f);
    if (::mkdirat(fd, "d", 0755) != 0) return false;
    const int next = ::openat(fd, "d", O_RDONLY | O_DIRECTORY);
    ::close(fd);
    if (next < 0) return false;
    fd = next;
  }
  ::close(fd);
  return true;
}

}  // namespace kestrum::test
