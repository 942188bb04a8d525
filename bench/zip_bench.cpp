// Zip benchmark: Kestrum's archive writer against Info-ZIP's `zip -r -q` at the same level on
// the same generated tree, runs alternated, medians; and the writer's peak memory on 100,000
// files.
//
//   zip_bench gen-mixed DIR        1 GB: a third text, a third random (media-like) data, a
//                                  third small files; fixed seed
//   zip_bench gen-many DIR         100,000 files of the same mix, small
//   zip_bench zip PARENT NAME OUT  zips PARENT/NAME into OUT as the window does; prints the
//                                  seconds and the peak resident memory in KiB
//   zip_bench run PARENT NAME RUNS times RUNS alternated runs of both and prints the medians
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "core/fileops/zip_archive.h"

namespace {

using Clock = std::chrono::steady_clock;

void MakeDirs(const std::string& path) {
  for (std::size_t i = 1; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == '/') ::mkdir(path.substr(0, i).c_str(), 0755);
  }
}

void WriteFile(const std::string& path, const std::string& data) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0 || ::write(fd, data.data(), data.size()) != static_cast<ssize_t>(data.size())) {
    std::perror(path.c_str());
    std::exit(1);
  }
  ::close(fd);
}

// Text from a fixed vocabulary with a skewed word frequency: deflate packs it about 3:1, as
// it does prose and source code.
class TextMaker {
 public:
  explicit TextMaker(std::mt19937_64& gen) : gen_(gen) {
    std::uniform_int_distribution<int> len(2, 10), letter('a', 'z');
    for (int i = 0; i < 5000; ++i) {
      std::string w;
      for (int k = len(gen_); k > 0; --k) w += static_cast<char>(letter(gen_));
      words_.push_back(w);
    }
  }
  std::string Make(std::size_t size) {
    std::string s;
    s.reserve(size + 16);
    std::geometric_distribution<int> pick(0.004);
    int column = 0;
    while (s.size() < size) {
      const std::string& w = words_[static_cast<std::size_t>(pick(gen_)) % words_.size()];
      s += w;
      column += static_cast<int>(w.size()) + 1;
      if (column > 72) {
        s += '\n';
        column = 0;
      } else {
        s += ' ';
      }
    }
    s.resize(size);
    return s;
  }

 private:
  std::mt19937_64& gen_;
  std::vector<std::string> words_;
};

std::string Random(std::mt19937_64& gen, std::size_t size) {
  std::string s(size, '\0');
  for (std::size_t i = 0; i + 8 <= size; i += 8) {
    const std::uint64_t v = gen();
    std::copy_n(reinterpret_cast<const char*>(&v), 8, s.data() + i);
  }
  return s;
}

void GenMixed(const std::string& dir) {
  std::mt19937_64 gen(20261209);
  TextMaker text(gen);
  const std::uint64_t third = 1000ull * 1000 * 1000 / 3;
  std::uint64_t total = 0;
  for (int i = 0; total < third; ++i) {
    const std::string folder = dir + "/text/d" + std::to_string(i % 10);
    MakeDirs(folder);
    const std::size_t size = std::uniform_int_distribution<std::size_t>(200000, 4000000)(gen);
    WriteFile(folder + "/doc" + std::to_string(i) + ".txt", text.Make(size));
    total += size;
  }
  total = 0;
  for (int i = 0; total < third; ++i) {
    const std::string folder = dir + "/media/d" + std::to_string(i % 5);
    MakeDirs(folder);
    const std::size_t size = std::uniform_int_distribution<std::size_t>(1000000, 20000000)(gen);
    // No telling extension: the writer has to see from the data that it is compressed.
    WriteFile(folder + "/clip" + std::to_string(i) + ".dat", Random(gen, size));
    total += size;
  }
  total = 0;
  for (int i = 0; total < third; ++i) {
    const std::string folder = dir + "/small/d" + std::to_string(i / 100);
    if (i % 100 == 0) MakeDirs(folder);
    const std::size_t size = std::uniform_int_distribution<std::size_t>(100, 8000)(gen);
    WriteFile(folder + "/f" + std::to_string(i) + (i % 3 == 0 ? ".bin" : ".txt"),
              i % 3 == 0 ? Random(gen, size) : text.Make(size));
    total += size;
  }
}

void GenMany(const std::string& dir) {
  std::mt19937_64 gen(20261210);
  TextMaker text(gen);
  for (int i = 0; i < 100000; ++i) {
    const std::string folder = dir + "/d" + std::to_string(i / 200);
    if (i % 200 == 0) MakeDirs(folder);
    const std::size_t size = std::uniform_int_distribution<std::size_t>(0, 6000)(gen);
    WriteFile(folder + "/file" + std::to_string(i) + (i % 3 == 0 ? ".dat" : ".txt"),
              i % 3 == 0 ? Random(gen, size) : text.Make(size));
  }
}

int ZipOnce(const std::string& parent, const std::string& name, const std::string& out) {
  kestrum::ZipItem item;
  item.Folder = parent + "/";
  item.Name = name;
  item.EntryName = name;
  item.Root = parent + "/";
  item.IsFolder = true;
  const auto start = Clock::now();
  const kestrum::ZipOutcome result = kestrum::WriteZipArchive(out, {item}, {});
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  std::printf("%.3f s, %llu entries, peak %ld KiB, code %d %s\n", seconds,
              static_cast<unsigned long long>(result.Entries), usage.ru_maxrss, result.Code,
              result.Message.c_str());
  return result.Code == kestrum::kZipDone ? 0 : 1;
}

// Runs argv in dir and returns its wall time and peak memory (KiB).
std::pair<double, long> Time(const std::vector<std::string>& argv, const std::string& dir) {
  const auto start = Clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::chdir(dir.c_str()) != 0) _exit(127);
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execvp(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  ::wait4(pid, &status, 0, &usage);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "%s failed\n", argv[0].c_str());
    std::exit(1);
  }
  return {seconds, usage.ru_maxrss};
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> a(argv + 1, argv + argc);
  if (a.size() == 2 && a[0] == "gen-mixed") GenMixed(a[1]);
  else if (a.size() == 2 && a[0] == "gen-many") GenMany(a[1]);
  else if (a.size() == 4 && a[0] == "zip") return ZipOnce(a[1], a[2], a[3]);
  else if (a.size() == 4 && a[0] == "run") {
    const std::string parent = a[1], name = a[2];
    const int runs = std::atoi(a[3].c_str());
    const std::string self = argv[0][0] == '/' ? argv[0] : std::string(getcwd(nullptr, 0)) + "/" + argv[0];
    const std::string ours = "/tmp/kestrum-zipbench-ours.zip", theirs = "/tmp/kestrum-zipbench-zip.zip";
    std::vector<double> k, z;
    long peak = 0;
    for (int i = 0; i < runs; ++i) {
      ::unlink(ours.c_str());
      ::unlink(theirs.c_str());
      const auto [ks, kmem] = Time({self, "zip", parent, name, ours}, parent);
      ::unlink(theirs.c_str());
      const auto [zs, zmem] = Time({"zip", "-r", "-q", "-6", theirs, name}, parent);
      k.push_back(ks);
      z.push_back(zs);
      peak = std::max(peak, kmem);
      struct stat ko{}, zo{};
      ::stat(ours.c_str(), &ko);
      ::stat(theirs.c_str(), &zo);
      std::printf("run %d: kestrum %.2f s (%lld bytes, %ld KiB peak), zip %.2f s (%lld bytes, %ld KiB peak)\n",
                  i + 1, ks, static_cast<long long>(ko.st_size), kmem, zs,
                  static_cast<long long>(zo.st_size), zmem);
      std::fflush(stdout);
    }
    std::printf("median: kestrum %.2f s, zip %.2f s, ratio %.3f; kestrum peak %ld KiB\n", Median(k),
                Median(z), Median(k) / Median(z), peak);
    ::unlink(ours.c_str());
    ::unlink(theirs.c_str());
  } else {
    std::fprintf(stderr, "usage: zip_bench gen-mixed DIR | gen-many DIR | zip PARENT NAME OUT | run PARENT NAME RUNS\n");
    return 2;
  }
  return 0;
}
