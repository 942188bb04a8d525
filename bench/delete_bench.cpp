// Times Kestrum's folder delete (the check of the whole tree included) against `rm -rf` on
// identical copies of one tree, and the trash of a folder on the home volume.
//   delete_bench SOURCE WORKDIR [--pairs N] [--trash-home DIR]
// Each pair copies SOURCE twice into WORKDIR (cp -a), syncs, then deletes one copy with
// DeleteTarget and the other with /bin/rm -rf, alternating which goes first. Prints each
// pair and the medians. WORKDIR must be on the volume to measure; it is left empty.
// --trash-home: a folder on the home volume where a copy is made and trashed (through a
// private XDG_DATA_HOME below it, removed afterwards).
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/fileops/delete_engine.h"
#include "core/fileops/trash.h"
#include "core/platform/open_folder.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

double CpuSeconds(const struct rusage& u) {
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

bool Run(const std::string& command) { return std::system(command.c_str()) == 0; }

double TimeRm(const std::string& path) {
  const char* argv[] = {"rm", "-rf", path.c_str(), nullptr};
  const auto start = Clock::now();
  pid_t pid = 0;
  if (posix_spawn(&pid, "/bin/rm", nullptr, nullptr, const_cast<char**>(argv), environ) != 0)
    return -1;
  int status = 0;
  struct rusage use {};
  wait4(pid, &status, 0, &use);
  const auto end = Clock::now();
  std::printf("  rm -rf: cpu %.3f s\n", CpuSeconds(use));
  return status == 0 ? Seconds(start, end) : -1;
}

kestrum::FileTarget Target(const std::string& volume, const std::string& path) {
  kestrum::FileTarget t;
  kestrum::SplitPath s = kestrum::SplitLastName(path);
  t.Folder = s.Folder;
  t.Name = s.Name;
  t.FullPath = path;
  t.VolumeRoot = volume;
  t.IsFolder = true;
  return t;
}

double TimeDelete(const std::string& path) {
  kestrum::OpControl c;
  struct rusage before {
  }, after{};
  getrusage(RUSAGE_SELF, &before);
  const auto start = Clock::now();
  const kestrum::OpResult r = kestrum::DeleteTarget(Target("/", path), c);
  const auto end = Clock::now();
  getrusage(RUSAGE_SELF, &after);
  std::printf("  kestrum: cpu %.3f s\n", CpuSeconds(after) - CpuSeconds(before));
  if (r.Status != kestrum::OpStatus::Done) {
    std::fprintf(stderr, "delete failed: %s\n", r.Message.c_str());
    return -1;
  }
  return Seconds(start, end);
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s SOURCE WORKDIR [--pairs N] [--trash-home DIR]\n", argv[0]);
    return 2;
  }
  const std::string source = argv[1], work = argv[2];
  int pairs = 3;
  std::string trashHome;
  for (int i = 3; i + 1 < argc; i += 2) {
    const std::string a = argv[i];
    if (a == "--pairs") pairs = std::atoi(argv[i + 1]);
    if (a == "--trash-home") trashHome = argv[i + 1];
  }
  if (!trashHome.empty()) {
    // GLib reads XDG_DATA_HOME once, on first use: set it before anything asks.
    setenv("XDG_DATA_HOME", (trashHome + "/data").c_str(), 1);
  }
  std::vector<double> ours, rm;
  for (int p = 0; p < pairs; ++p) {
    const std::string a = work + "/kestrum-" + std::to_string(p);
    const std::string b = work + "/rm-" + std::to_string(p);
    if (!Run("cp -a '" + source + "' '" + a + "' && cp -a '" + source + "' '" + b + "' && sync")) {
      std::fprintf(stderr, "cannot copy %s\n", source.c_str());
      return 1;
    }
    double k = 0, r = 0;
    if (p % 2 == 0) {
      k = TimeDelete(a);
      Run("sync");
      r = TimeRm(b);
    } else {
      r = TimeRm(b);
      Run("sync");
      k = TimeDelete(a);
    }
    Run("sync");
    if (k < 0 || r < 0) return 1;
    ours.push_back(k);
    rm.push_back(r);
    std::printf("pair %d: kestrum %.3f s, rm -rf %.3f s, ratio %.2f\n", p + 1, k, r, k / r);
  }
  const double mk = Median(ours), mr = Median(rm);
  std::printf("median: kestrum %.3f s, rm -rf %.3f s, ratio %.2f (limit 1.20)\n", mk, mr, mk / mr);

  if (!trashHome.empty()) {
    const std::string victim = trashHome + "/trash-me";
    if (!Run("cp -a '" + source + "' '" + victim + "' && sync")) return 1;
    kestrum::OpControl c;
    const auto start = Clock::now();
    const kestrum::OpResult r = kestrum::TrashTarget(Target("/", victim), c);
    const auto end = Clock::now();
    std::printf("trash of a folder on the home volume: %.4f s (%s)\n", Seconds(start, end),
                r.Status == kestrum::OpStatus::Done ? "done" : r.Message.c_str());
    Run("rm -rf '" + trashHome + "/data' '" + victim + "'");
  }
  return 0;
}
