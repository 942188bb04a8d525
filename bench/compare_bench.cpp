// Times the comparison of two scans of one tree, and the memory it adds, once the scans are
// in memory; also against the earlier scan read back from a compressed saved scan, as the
// history keeps it.
//   compare_bench TREE [SCRATCH_FOLDER]
// The tree is not changed: the second scan has one file in a hundred marked gone, so that the
// comparison has removals to report besides walking every folder and file of both.
#include <malloc.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include "core/adapter/row_tags.h"
#include "core/platform/process_stats.h"
#include "core/presenter/comparing.h"
#include "core/query/scan_compare.h"
#include "core/saved/json_export.h"
#include "core/saved/json_import.h"
#include "core/scan/scan.h"
#include "core/scan/scanning.h"
#include "core/tree/summary.h"

namespace {

using namespace kestrum;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

std::unique_ptr<DiskObject> Scan(const std::string& tree) {
  auto drive = std::make_unique<DiskObject>();
  drive->Class = ObjectClass::Drive;
  drive->SetPath(tree);
  drive->DriveForChange().RootFolder = tree + "/";
  drive->DriveForChange().AllocationUnit = 4096;
  std::int32_t keys = 0;
  ScanOptions options;
  options.KeepFiles = true;
  Scanning = true;
  const Clock::time_point start = Clock::now();
  ScanDrive(*drive, keys, options);
  Scanning = false;
  SummarizeSizes(*drive);
  std::printf("scanned %s: %zu entries, %zu folders: %.1f s\n", tree.c_str(),
              drive->Drive().Files->Count(), drive->DiskObjects().Count(), Seconds(start));
  return drive;
}

void Compare(const char* what, const DiskObject& older, const DiskObject& newer) {
  const ResidentMemory rss;
  double best = 1e9, lines = 0;
  std::size_t changes = 0, added = 0;
  for (int run = 0; run < 3; ++run) {
    ::malloc_trim(0);
    const std::size_t before = rss.Bytes();
    const Clock::time_point start = Clock::now();
    const ScanComparison c = CompareScans(older, newer);
    const double took = Seconds(start);
    if (took < best) {
      best = took;
      changes = c.Changes.size();
      added = rss.Bytes() - before;
    }
    const Clock::time_point sorting = Clock::now();
    const std::size_t n = ChangesLargestFirst(c).size();
    lines = Seconds(sorting);
    if (n != changes) std::fprintf(stderr, "lines and changes differ\n");
  }
  std::printf("%-40s %9zu changes  compare %.3f s  (+%.1f MB)  lines with paths, sorted %.3f s\n",
              what, changes, best, added / 1048576.0, lines);
}

// What the window adds: both size rules compared and indexed on its worker, then the changes
// of a listing of the folder with the most files (its rows as a file listing makes them), on
// the listing's worker; the window thread itself only takes the result.
void WindowSide(const DiskObject& older, const DiskObject& newer) {
  const ResidentMemory rss;
  ::malloc_trim(0);
  const std::size_t before = rss.Bytes();
  Clock::time_point start = Clock::now();
  auto c = std::make_shared<ActiveComparison>();
  c->Older = std::shared_ptr<DiskObject>(std::shared_ptr<DiskObject>(),
                                         const_cast<DiskObject*>(&older));  // not owned
  c->Bytes = CompareScans(older, newer, {false, nullptr});
  c->Allocated = CompareScans(older, newer, {true, nullptr});
  c->BytesIndex = std::make_unique<ChangeIndex>(c->Bytes);
  c->AllocatedIndex = std::make_unique<ChangeIndex>(c->Allocated);
  std::printf("window: both rules compared and indexed %.3f s (+%.1f MB)\n", Seconds(start),
              (rss.Bytes() - before) / 1048576.0);
  const DiskObject* widest = nullptr;
  for (std::size_t i = 1; i <= newer.DiskObjectsIfAny()->Count(); ++i) {
    const DiskObject* f = newer.DiskObjectsIfAny()->Item(i);
    if (!widest || f->fFileCount > widest->fFileCount) widest = f;
  }
  RowBatch batch;
  newer.Drive().Files->ForEach(widest->FilesAt, [&batch](const StoredEntry& e) {
    if (e.What != StoredEntry::Kind::File) return true;
    ListRow row;
    row.Text = std::string(e.Name);
    row.Tag = FileTag(static_cast<double>(e.Size));
    row.SubItems = {"", "", "", ""};
    batch.Add(std::move(row), static_cast<double>(e.Size), false);
    return true;
  });
  ChangeJob job;
  job.Comparison = c;
  job.Folder = widest;
  job.FilesListed = true;
  job.SortByChange = true;
  job.OlderFolder = older.DiskObjectsIfAny()->Find(widest->Path());
  const std::size_t rows = batch.Count();
  start = Clock::now();
  ApplyChanges(batch, job, false);
  std::printf("window: a listing of %zu files given its changes, sorted by change: %.3f s\n", rows,
              Seconds(start));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: compare_bench TREE [SCRATCH_FOLDER]\n");
    return 2;
  }
  const std::string tree = argv[1];
  const std::string scratch = argc > 2 ? argv[2] : "/tmp";
  const auto older = Scan(tree);
  const auto newer = Scan(tree);
  std::printf("the earlier scan's store of entries: %.1f MB\n",
              older->Drive().Files->Bytes() / 1048576.0);
  Compare("unchanged (every folder and file read)", *older, *newer);
  // One file in a hundred of the later scan gone.
  std::size_t n = 0;
  FileStore& store = *newer->DriveForChange().Files;
  for (std::size_t i = 1; i <= newer->DiskObjects().Count(); ++i)
    store.ForEach(newer->DiskObjects().Item(i)->FilesAt, [&](const StoredEntry& e) {
      if (e.What == StoredEntry::Kind::File && ++n % 100 == 0) store.SetGone(e.Position);
    });
  Compare("a file in a hundred gone", *older, *newer);

  // The earlier scan as the history keeps it: written compressed from memory, read back.
  const std::string file = scratch + "/compare_bench.json.zst";
  std::string error;
  Clock::time_point start = Clock::now();
  if (!ExportScanToFile(*older, file, error)) {
    std::fprintf(stderr, "export failed: %s\n", error.c_str());
    return 1;
  }
  std::printf("written from memory, zstd: %.1f s\n", Seconds(start));
  DiskObject saved;
  saved.SetPath(file);
  std::int32_t keys = 0;
  ImportError importError;
  start = Clock::now();
  if (!ImportScan(file, saved, keys, importError)) {
    std::fprintf(stderr, "import failed: %s\n", importError.Message.c_str());
    return 1;
  }
  std::printf("read back: %.1f s\n", Seconds(start));
  std::remove(file.c_str());
  Compare("saved scan against the later scan", saved, *newer);
  WindowSide(saved, *newer);
  return 0;
}
