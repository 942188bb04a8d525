// Times the treemap down to every file on a scanned tree, split as the window splits it:
//   map_bench TREE [RUNS]
// TREE is scanned (its entries kept), then for its root folder and for the folder holding the
// most files of its own, at several pane sizes, RUNS times (default 5): the copy of what the
// layout reads (MakeMapSource's share: on the window thread) and the layout itself (on the
// pane's worker), the first with a classifier that knows no type yet. Prints the medians,
// the longest copy (the window thread's time for a map) and the first complete layout.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/rows/map_source.h"
#include "core/scan/scan.h"
#include "core/scan/scanning.h"
#include "core/tree/summary.h"

namespace {

using namespace kestrum;
using Clock = std::chrono::steady_clock;

double Ms(Clock::time_point since) {
  return std::chrono::duration<double, std::milli>(Clock::now() - since).count();
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// What the pane copies for a folder shown as a drive's root is: its subfolders on top, its
// own files on top too.
MapSource Copy(DiskObject& drive, std::size_t position, float w, float h) {
  MapSource s;
  s.Width = w;
  s.Height = h;
  s.PaletteSize = MapPalette().size();
  const DiskObject* shown = drive.DiskObjects().Item(position);
  const std::uint32_t at =
      s.AddSubtree(drive, position, true, MapSmallestShown(shown->UsedSpace, w, h));
  if (at == kNoRect) return s;
  for (std::uint32_t k = at + 1; k < s.Folders[at].End; k = s.Folders[k].End)
    if (s.Folders[k].Place.Folder) s.Top.push_back({s.Folders[k].Size, MapKind::Folder, k});
  s.OwnFilesOf = at;
  s.Total = s.Folders[at].Size;
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: map_bench TREE [RUNS]\n");
    return 2;
  }
  const std::string tree = argv[1];
  const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
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
  SummarizeSizes(drive);
  const FolderList& folders = drive.DiskObjects();
  std::printf("scanned %s: %zu entries in %zu folders: %.1f s\n", tree.c_str(),
              drive.Drive().Files->Count(), folders.Count(), Ms(start) / 1000);
  // The folder with the most files of its own.
  std::size_t fullest = 1;
  for (std::size_t i = 1; i <= folders.Count(); ++i) {
    const DiskObject* d = folders.Item(i);
    if (d->fFileCount > folders.Item(fullest)->fFileCount) fullest = i;
  }
  const struct {
    float W, H;
  } sizes[] = {{1600, 500}, {400, 120}, {1920, 1080}, {3840, 1000}};
  double longestCopy = 0, firstComplete = 0;
  for (const std::size_t position : {std::size_t{1}, fullest}) {
    const DiskObject* shown = folders.Item(position);
    std::printf("\n%s (%d files of its own, %.0f bytes in its subtree)\n", shown->Path().c_str(),
                shown->fFileCount, shown->UsedSpace);
    for (const auto& size : sizes) {
      std::vector<double> copy, layout;
      double cold = 0;
      std::size_t rects = 0, files = 0;
      for (int run = 0; run < runs; ++run) {
        FileTypes types;  // a new classifier each run: the first map's cost
        start = Clock::now();
        const MapSource s = Copy(drive, position, size.W, size.H);
        copy.push_back(Ms(start));
        start = Clock::now();
        const Treemap map = LayoutSource(s, types);
        layout.push_back(Ms(start));
        if (run == 0) cold = copy.back() + layout.back();
        rects = map.Rects.size();
        files = map.Files.size();
      }
      longestCopy = std::max(longestCopy, *std::max_element(copy.begin(), copy.end()));
      if (size.W == 1600) firstComplete = std::max(firstComplete, cold);
      std::printf("  %4.0f x %4.0f: copy %6.2f ms (longest %6.2f), layout %7.1f ms (median), "
                  "first %7.1f ms; %zu rectangles, %zu files\n",
                  size.W, size.H, Median(copy), *std::max_element(copy.begin(), copy.end()),
                  Median(layout), cold, rects, files);
    }
  }
  std::printf("\nlongest copy on the window thread: %.2f ms\n", longestCopy);
  std::printf("first complete layout at 1600 x 500: %.1f ms\n", firstComplete);
  return 0;
}
