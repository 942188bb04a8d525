// The reference walker for the scan benchmarks: the least work a size scan can do. One
// getdents64 pass per folder and one fstatat per entry, relative to the folder's descriptor,
// on N threads sharing a stack of folders, hard links counted once (as du does). It prints
// files, folders and total bytes, so its result can be checked against the program's.
//
//   walker [-j N] PATH
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <algorithm>
#include <thread>
#include <tuple>
#include <vector>

namespace {

// The fixed head of a getdents64 record; the NUL-terminated name follows it.
struct LinuxDirent64 {
  ino64_t d_ino;
  off64_t d_off;
  unsigned short d_reclen;
  unsigned char d_type;
};
constexpr std::size_t kNameOffset = 19;  // offsetof(linux_dirent64, d_name)

class Work {
 public:
  void Push(std::string p) {
    {
      std::lock_guard<std::mutex> l(m_);
      stack_.push_back(std::move(p));
    }
    cv_.notify_one();
  }
  // False when every folder is done.
  bool Pop(std::string& out) {
    std::unique_lock<std::mutex> l(m_);
    ++idle_;
    cv_.wait(l, [&] { return !stack_.empty() || idle_ == threads_; });
    if (stack_.empty()) {
      cv_.notify_all();
      return false;
    }
    --idle_;
    out = std::move(stack_.back());
    stack_.pop_back();
    return true;
  }
  void SetThreads(int n) { threads_ = n; }

 private:
  std::mutex m_;
  std::condition_variable cv_;
  std::vector<std::string> stack_;
  int idle_ = 0, threads_ = 1;
};

// A file with more than one name, counted once after the walk.
struct Linked {
  dev_t dev;
  ino_t ino;
  std::uint64_t bytes, blocks;
  bool operator<(const Linked& o) const { return std::tie(dev, ino) < std::tie(o.dev, o.ino); }
  bool operator==(const Linked& o) const { return dev == o.dev && ino == o.ino; }
};

struct Totals {
  std::uint64_t files = 0, folders = 0, bytes = 0, blocks = 0;
  std::vector<Linked> linked;
};

void Walk(Work& work, dev_t dev, Totals& t) {
  std::vector<char> buf(1 << 16);
  std::string dir;
  while (work.Pop(dir)) {
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) continue;
    ++t.folders;
    for (;;) {
      const long n = ::syscall(SYS_getdents64, fd, buf.data(), buf.size());
      if (n <= 0) break;
      for (long off = 0; off < n;) {
        auto* e = reinterpret_cast<LinuxDirent64*>(buf.data() + off);
        off += e->d_reclen;
        const char* name = reinterpret_cast<const char*>(e) + kNameOffset;
        if (name[0] == '.' && (!name[1] || (name[1] == '.' && !name[2]))) continue;
        if (e->d_type == DT_DIR) {
          struct stat st;
          if (::fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && st.st_dev == dev)
            work.Push(dir + name + "/");
          continue;
        }
        if (e->d_type != DT_REG && e->d_type != DT_UNKNOWN) continue;
        struct stat st;
        if (::fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (S_ISDIR(st.st_mode)) {
          if (st.st_dev == dev) work.Push(dir + name + "/");
        } else if (S_ISREG(st.st_mode) && st.st_nlink > 1) {
          t.linked.push_back(Linked{st.st_dev, st.st_ino, static_cast<std::uint64_t>(st.st_size),
                                    static_cast<std::uint64_t>(st.st_blocks)});
        } else if (S_ISREG(st.st_mode)) {
          ++t.files;
          t.bytes += static_cast<std::uint64_t>(st.st_size);
          t.blocks += static_cast<std::uint64_t>(st.st_blocks);
        }
      }
    }
    ::close(fd);
  }
}

}  // namespace

int main(int argc, char** argv) {
  int threads = 1;
  int i = 1;
  if (i + 1 < argc && std::strcmp(argv[i], "-j") == 0) {
    threads = std::max(1, std::atoi(argv[i + 1]));
    i += 2;
  }
  if (i >= argc) {
    std::fprintf(stderr, "usage: walker [-j N] PATH\n");
    return 2;
  }
  std::string root = argv[i];
  if (root.back() != '/') root += '/';
  struct stat st;
  if (::stat(root.c_str(), &st) != 0) {
    std::perror(root.c_str());
    return 2;
  }
  Work work;
  work.SetThreads(threads);
  work.Push(root);
  std::vector<Totals> totals(static_cast<std::size_t>(threads));
  std::vector<std::thread> pool;
  for (int k = 0; k < threads; ++k)
    pool.emplace_back([&, k] { Walk(work, st.st_dev, totals[static_cast<std::size_t>(k)]); });
  for (auto& t : pool) t.join();
  Totals sum;
  for (Totals& t : totals) {
    sum.files += t.files;
    sum.folders += t.folders;
    sum.bytes += t.bytes;
    sum.blocks += t.blocks;
    sum.linked.insert(sum.linked.end(), t.linked.begin(), t.linked.end());
  }
  std::sort(sum.linked.begin(), sum.linked.end());
  sum.linked.erase(std::unique(sum.linked.begin(), sum.linked.end()), sum.linked.end());
  for (const Linked& l : sum.linked) {
    ++sum.files;
    sum.bytes += l.bytes;
    sum.blocks += l.blocks;
  }
  std::printf("files %llu folders %llu bytes %llu blocks %llu\n",
              static_cast<unsigned long long>(sum.files), static_cast<unsigned long long>(sum.folders),
              static_cast<unsigned long long>(sum.bytes), static_cast<unsigned long long>(sum.blocks));
  return 0;
}
