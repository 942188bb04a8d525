#pragma once
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "core/platform/volumes.h"

namespace kestrum::test {

// A fresh temporary folder, removed with everything in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return path_; }  // no trailing "/"
  // Writes a file (creating folders on the way) and returns its full path.
  std::string Write(const std::string& relative, const std::string& content) const;
  std::string Mkdir(const std::string& relative) const;

 private:
  std::string path_;
};

// Real mounts for a test, made in a mount namespace of the test process's own (with private
// propagation), so that nothing is seen outside it and everything is gone when the process
// ends. Needs root and a process of one thread; where either is missing, Why() says so and
// the test should skip. Unmount() (and the destructor) takes the mounts down, the last first:
// call it before removing the folders they are mounted on.
class MountSandbox {
 public:
  MountSandbox();
  ~MountSandbox() { Unmount(); }
  MountSandbox(const MountSandbox&) = delete;
  MountSandbox& operator=(const MountSandbox&) = delete;
  const std::string& Why() const { return why_; }  // empty when mounts can be made
  // Each false, with Error() set, when the mount failed.
  bool Mount(const std::string& type, const std::string& target);  // tmpfs, proc...
  bool Bind(const std::string& from, const std::string& target);
  // An ext4 file system of megabytes in the file image, made and loop-mounted by the system's
  // tools (mkfs.ext4, mount).
  bool LoopExt4(const std::string& image, const std::string& target, int megabytes);
  void Unmount();
  const std::string& Error() const { return error_; }

 private:
  std::vector<std::string> mounted_;
  std::string why_, error_;
};

// A whole file's bytes ("" when it cannot be read).
std::string Slurp(const std::string& path);
// The names in a folder, without "." and "..": for checking that nothing else was left.
std::set<std::string> Names(const std::string& folder);

// Tasks that a worker posts to "the window thread", run in order by the test's thread.
class WindowTasks {
 public:
  // Any thread.
  void Post(std::function<void()> task);
  // Runs posted tasks, waiting for each, until busy() is false.
  void RunWhile(const std::function<bool()>& busy);
  // Runs the tasks posted so far and those they post, without waiting for more.
  void RunPending();

 private:
  std::mutex m_;
  std::condition_variable cv_;
  std::deque<std::function<void()>> tasks_;
};

// The volume service over a mount table in mountinfo form written by the test, with
// folders for sysfs and the labels that do not exist (so every volume is fixed and unlabelled).
// folder is where those missing folders are named; it must outlive the service's use.
std::unique_ptr<FileSystemService> VolumesFromTable(const std::string& table,
                                                    const std::string& folder);

// What makes the volume service of a window whose only volume is the folder drive: writes a
// mount table naming it into folder (which must outlive the window) and serves it from there.
std::function<std::unique_ptr<FileSystemService>()> OnlyVolume(const std::string& drive,
                                                               const std::string& folder);

}  // namespace kestrum::test
