// Times the count of a whole drive by file type: types_bench --import FILE | FOLDER.
// Reads the saved scan (or scans the folder) keeping every file, then counts it twice: with a
// new classifier (every distinct key asked of the MIME database) and with the warm one.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "core/saved/json_import.h"
#include "core/scan/scan.h"
#include "core/scan/scanning.h"
#include "core/query/file_types.h"
#include "core/tree/summary.h"

using namespace kestrum;
using Clock = std::chrono::steady_clock;

static double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: types_bench --import FILE | FOLDER\n");
    return 2;
  }
  DiskObject drive;
  std::int32_t keys = 0;
  const auto load = Clock::now();
  if (std::strcmp(argv[1], "--import") == 0 && argc > 2) {
    drive.SetPath(argv[2]);
    ImportError error;
    ImportOptions options;
    options.KeepFiles = true;
    if (!ImportScan(argv[2], drive, keys, error, options)) {
      std::fprintf(stderr, "%s\n", error.Message.c_str());
      return 1;
    }
  } else {
    drive.Class = ObjectClass::Drive;
    drive.SetPath(argv[1]);
    drive.DriveForChange().RootFolder = std::string(argv[1]) + "/";
    Scanning = true;
    ScanOptions options;
    options.KeepFiles = true;
    if (!ScanDrive(drive, keys, options)) return 1;
    Scanning = false;
    SummarizeSizes(drive);
  }
  std::printf("load\t%.2f s\n", Seconds(load));
  FileTypes types;
  for (const char* run : {"cold", "warm"}) {
    const auto start = Clock::now();
    const TypeCounts counts = CountTypes(drive, types);
    const double took = Seconds(start);
    std::size_t keysFound = 0;
    for (const CategoryTotals& c : counts.Categories) keysFound += c.Keys.size();
    std::printf("%s\t%.3f s\t%llu files\t%llu bytes\t%zu categories\t%zu keys\n", run, took,
                static_cast<unsigned long long>(counts.Files),
                static_cast<unsigned long long>(counts.Bytes), counts.Categories.size(), keysFound);
  }
  return 0;
}
