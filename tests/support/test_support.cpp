#include "support/test_support.h"

#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace kestrum::test {

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string tmpl = std::string(base && *base ? base : "/tmp") + "/kestrum-test-XXXXXX";
  if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
}

namespace {

// Removes folder and everything in it, read-only folders too, never following a link.
void RemoveTree(const std::string& folder) {
  ::nftw(
      folder.c_str(),
      [](const char* p, const struct stat*, int, struct FTW*) {
        ::chmod(p, 0700);
        return ::remove(p);
      },
      64, FTW_DEPTH | FTW_PHYS);
}

// Every test program gets data and settings folders of its own, set before GLib or Qt first
// reads them and removed when it ends: a test that trashes a file, keeps a scan in the
// history or saves its settings never touches the user's own. A test that needs other
// folders sets its own before they are read.
class OwnUserFolders {
 public:
  OwnUserFolders() {
    char base[] = "/tmp/kestrum-user-XXXXXX";
    if (!::mkdtemp(base)) return;
    root_ = base;
    owner_ = ::getpid();
    ::setenv("XDG_DATA_HOME", (root_ + "/data").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (root_ + "/config").c_str(), 1);
  }
  ~OwnUserFolders() {
    if (!root_.empty() && ::getpid() == owner_) RemoveTree(root_);  // not in a forked child
  }
  OwnUserFolders(const OwnUserFolders&) = delete;
  OwnUserFolders& operator=(const OwnUserFolders&) = delete;

 private:
  std::string root_;
  pid_t owner_ = 0;
};
const OwnUserFolders kOwnUserFolders;

}  // namespace

TempDir::~TempDir() { RemoveTree(path_); }

MountSandbox::MountSandbox() {
  if (::geteuid() != 0) {
    why_ = "mounts need root";
    return;
  }
  if (::unshare(CLONE_NEWNS) != 0) {
    why_ = std::string("no mount namespace of its own: ") + std::strerror(errno);
    return;
  }
  // Mounts made here must not reach the namespace the test was started in.
  if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
    why_ = std::string("mounts could not be made private: ") + std::strerror(errno);
}

bool MountSandbox::Mount(const std::string& type, const std::string& target) {
  if (!why_.empty()) return false;
  if (::mount(type.c_str(), target.c_str(), type.c_str(), 0, nullptr) != 0) {
    error_ = "mount -t " + type + " " + target + ": " + std::strerror(errno);
    return false;
  }
  mounted_.push_back(target);
  return true;
}

bool MountSandbox::Bind(const std::string& from, const std::string& target) {
  if (!why_.empty()) return false;
  if (::mount(from.c_str(), target.c_str(), nullptr, MS_BIND, nullptr) != 0) {
    error_ = "mount --bind " + from + " " + target + ": " + std::strerror(errno);
    return false;
  }
  mounted_.push_back(target);
  return true;
}

bool MountSandbox::LoopExt4(const std::string& image, const std::string& target, int megabytes) {
  if (!why_.empty()) return false;
  const std::string make = "truncate -s " + std::to_string(megabytes) + "M '" + image +
                           "' && mkfs.ext4 -q -F '" + image + "' >/dev/null 2>&1 && mount -o loop '" +
                           image + "' '" + target + "'";
  if (std::system(make.c_str()) != 0) {
    error_ = "no loop-mounted ext4: " + make + " failed";
    return false;
  }
  mounted_.push_back(target);
  return true;
}

void MountSandbox::Unmount() {
  while (!mounted_.empty()) {
    ::umount2(mounted_.back().c_str(), MNT_DETACH);
    mounted_.pop_back();
  }
}

std::string TempDir::Mkdir(const std::string& relative) const {
  std::string full = path_;
  std::size_t pos = 0;
  while (pos < relative.size()) {
    const std::size_t slash = relative.find('/', pos);
    const std::string part =
        relative.substr(pos, slash == std::string::npos ? std::string::npos : slash - pos);
    full += "/" + part;
    ::mkdir(full.c_str(), 0755);
    if (slash == std::string::npos) break;
    pos = slash + 1;
  }
  return full;
}

std::string TempDir::Write(const std::string& relative, const std::string& content) const {
  const std::size_t slash = relative.rfind('/');
  if (slash != std::string::npos) Mkdir(relative.substr(0, slash));
  const std::string full = path_ + "/" + relative;
  const int fd = ::open(full.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) throw std::runtime_error("cannot create " + full);
  if (!content.empty() &&
      ::write(fd, content.data(), content.size()) != static_cast<ssize_t>(content.size())) {
    ::close(fd);
    throw std::runtime_error("cannot write " + full);
  }
  ::close(fd);
  return full;
}

void WindowTasks::Post(std::function<void()> task) {
  std::lock_guard l(m_);
  tasks_.push_back(std::move(task));
  cv_.notify_one();
}

void WindowTasks::RunWhile(const std::function<bool()>& busy) {
  while (busy()) {
    std::function<void()> task;
    {
      std::unique_lock l(m_);
      cv_.wait(l, [&] { return !tasks_.empty(); });
      task = std::move(tasks_.front());
      tasks_.pop_front();
    }
    task();
  }
}

void WindowTasks::RunPending() {
  for (;;) {
    std::function<void()> task;
    {
      std::lock_guard l(m_);
      if (tasks_.empty()) return;
      task = std::move(tasks_.front());
      tasks_.pop_front();
    }
    task();
  }
}

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::set<std::string> Names(const std::string& folder) {
  std::set<std::string> names;
  if (DIR* d = ::opendir(folder.c_str())) {
    while (const dirent* e = ::readdir(d))
      if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.insert(e->d_name);
    ::closedir(d);
  }
  return names;
}

std::unique_ptr<FileSystemService> VolumesFromTable(const std::string& table,
                                                    const std::string& folder) {
  VolumeSources s;
  s.MountTable = table;
  s.SysBlock = folder + "/nosys";
  s.ByLabel = folder + "/nolabels";
  return std::make_unique<FileSystemService>(s);
}

std::function<std::unique_ptr<FileSystemService>()> OnlyVolume(const std::string& drive,
                                                               const std::string& folder) {
  const std::string table = folder + "/mountinfo";
  std::ofstream(table) << "1 0 0:77 / " << drive << " rw - ext4 /dev/sdz9 rw\n";
  return [table, folder] { return VolumesFromTable(table, folder); };
}

}  // namespace kestrum::test
