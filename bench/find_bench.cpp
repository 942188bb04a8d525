// Times searches over the kept entries of a saved scan, and against find(1) over a tree on
// disk that is scanned first.
//   find_bench SAVED.json [TREE]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "core/saved/json_import.h"
#include "core/scan/scan.h"
#include "core/scan/scanning.h"
#include "core/query/file_search.h"

namespace {

using namespace kestrum;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

// Times one search three times and prints the best: the files matched, and (collecting)
// how many the result kept.
void Time(const char* what, const DiskObject& drive, NameMatcher::Mode mode, const char* text,
          bool collect, std::size_t limit = 0) {
  std::string error;
  SearchCriteria c;
  c.Name = NameMatcher::Make(text, mode, false, error);
  if (!c.Name) {
    std::printf("%s: %s\n", what, error.c_str());
    return;
  }
  c.Limit = limit;
  double best = 1e9;
  std::size_t found = 0;
  for (int run = 0; run < 3; ++run) {
    const Clock::time_point start = Clock::now();
    found = 0;
    if (collect) {
      found = SearchFiles(drive, c).Files.size();
    } else {
      VisitFiles({&drive}, c, [&found](const FoundFile&) {
        ++found;
        return true;
      });
    }
    best = std::min(best, Seconds(start));
  }
  std::printf("%-44s %-22s %9zu matches  %.3f s\n", what, text, found, best);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: find_bench SAVED.json [TREE]\n");
    return 2;
  }
  using M = NameMatcher::Mode;
  {
    DiskObject drive;
    drive.Class = ObjectClass::Import;
    drive.SetPath(argv[1]);
    std::int32_t keys = 0;
    ImportError error;
    ImportOptions options;
    options.KeepFiles = true;
    const Clock::time_point start = Clock::now();
    if (!ImportScan(argv[1], drive, keys, error, options)) {
      std::fprintf(stderr, "import failed: %s\n", error.Message.c_str());
      return 1;
    }
    std::printf("imported %zu entries in %zu folders: %.1f s\n", drive.Drive().Files->Count(),
                drive.DiskObjects().Count(), Seconds(start));
    Time("plain, no match, every name read (visit)", drive, M::Plain, "_12345", false);
    Time("plain, no match (collect, largest first)", drive, M::Plain, "_12345", true);
    Time("plain, no match", drive, M::Plain, "zzz", false);
    Time("plain, non-ASCII text (PCRE2 literal)", drive, M::Plain, "\xC3\xA9t\xC3\xA9", false);
    Time("wildcard, no match", drive, M::Wildcard, "*_1234?.dat", false);
    Time("regex, no match", drive, M::Regex, "_1234[0-9]\\.", false);
    Time("plain, a tenth of the files (visit)", drive, M::Plain, "9.DAT", false);
    Time("plain, every file (visit)", drive, M::Plain, ".dat", false);
    Time("plain, every file (collect, 1000 largest)", drive, M::Plain, ".dat", true, 1000);
    Time("wildcard, every file (visit)", drive, M::Wildcard, "*.dat", false);
  }
  if (argc > 2) {
    const std::string tree = argv[2];
    DiskObject drive;
    drive.Class = ObjectClass::Drive;
    drive.SetPath(tree);
    drive.DriveForChange().RootFolder = tree + "/";
    std::int32_t keys = 0;
    ScanOptions options;
    options.KeepFiles = true;
    Scanning = true;
    Clock::time_point start = Clock::now();
    ScanDrive(drive, keys, options);
    Scanning = false;
    std::printf("scanned %s: %zu entries: %.1f s\n", tree.c_str(), drive.Drive().Files->Count(),
                Seconds(start));
    const char* pattern = "*12345*";
    Time("the scan's entries, wildcard", drive, M::Wildcard, pattern, false);
    const std::string command =
        "find '" + tree + "' -name '" + pattern + "' | wc -l > /dev/null";
    double best = 1e9;
    for (int run = 0; run < 3; ++run) {
      start = Clock::now();
      if (std::system(command.c_str()) != 0) std::fprintf(stderr, "find failed\n");
      best = std::min(best, Seconds(start));
    }
    std::printf("%-44s %-22s %9s          %.3f s\n", "find -name (file system, cache warm)", pattern,
                "", best);
  }
  return 0;
}
