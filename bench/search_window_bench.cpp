// Times Find, the quick lists and the "File Types" pane in the window (run it offscreen:
// QT_QPA_PLATFORM=offscreen), on a saved scan or a tree:
//   search_window_bench FILE.json[.gz|.zst]   opened as a saved scan
//   search_window_bench TREE                  scanned as the window's one volume
// For each search: the seconds from the command to its rows shown in "Search Results", the
// files found, and the longest the window thread spent in one event meanwhile (by the clock,
// which counts waiting for a processor on a busy machine, and by the thread's own processor
// time). Then the same for the types pane counting the whole scan, and, for a tree, for a
// comparison with its own scan read back from a compressed saved scan.
#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <string>

#include "core/presenter/comparing.h"
#include "core/presenter/navigation.h"
#include "core/presenter/saved_scans.h"
#include "core/presenter/search_results.h"
#include "core/presenter/types_pane.h"
#include "core/saved/json_export.h"
#include "gui/app/frmMain.h"
#include "support/test_support.h"
#include "timed_app.h"

using namespace kestrum;

namespace {

void Settle(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

// Runs what starts until the slot is free and no listing is pending; prints the figures.
template <typename Start>
void Time(TimedApp& app, gui::frmMain& w, const char* what, Start&& start) {
  MainPresenter& p = w.Presenter();
  app.Longest = app.LongestCpu = 0;
  app.Timing = true;
  QElapsedTimer t;
  t.start();
  start(p);
  while (p.Slot().Busy() || p.ListingPending()) Settle(1);
  const double seconds = t.nsecsElapsed() / 1e9;
  app.Timing = false;
  std::printf("%-34s %7.3f s  %9zu rows  longest event %5.1f ms (%4.1f ms on the processor; %s)\n",
              what, seconds, p.List().Count(), app.Longest, app.LongestCpu, app.What.c_str());
}

SearchCriteria Named(const char* text, NameMatcher::Mode mode, std::uint64_t minSize = 0) {
  std::string error;
  SearchCriteria c;
  if (minSize) c.MinSize = minSize;
  c.Name = NameMatcher::Make(text, mode, false, error);
  c.Limit = kListedBound;
  return c;
}

}  // namespace

int main(int argc, char** argv) {
  TimedApp app(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: search_window_bench FILE.json|TREE\n");
    return 2;
  }
  const std::string given = argv[1];
  QTemporaryDir tmp;
  const bool tree = QFileInfo(QString::fromStdString(given)).isDir();
  const std::string volume = tree ? given : tmp.path().toStdString();
  gui::frmMain w(tmp.filePath("Kestrum.conf").toStdString(),
                 test::OnlyVolume(volume, QFileInfo(QString::fromStdString(volume)).path().toStdString()));
  w.resize(1600, 900);
  w.Form_Load();
  MainPresenter& p = w.Presenter();
  QElapsedTimer load;
  load.start();
  if (tree) {
    const QModelIndex d = w.treeModel()->index(0, 0, w.treeModel()->index(0, 0));
    w.tvTreeView()->setCurrentIndex(d);
    p.Explorer().SetSelectedItem(w.treeModel()->NodeAt(d));
    w.Button("ScanDisks")->trigger();
  } else {
    ImportScans(p, {given});
  }
  while (p.Slot().Busy()) Settle(20);
  Settle(200);
  std::printf("%s %s in %.1f s\n", tree ? "scanned" : "opened", given.c_str(),
              load.elapsed() / 1000.0);
  p.ShowRoot();
  const auto search = [](SearchCriteria c, ListedOrder order = ListedOrder::BySize) {
    return [c = std::move(c), order](MainPresenter& pr) {
      StartSearch(pr, c, nullptr, "bench", order);
    };
  };
  using Mode = NameMatcher::Mode;
  // The generated export names every folder's files alike: a size narrows them to a few.
  Time(app, w, "plain text, none", search(Named("no-such-name", Mode::Plain)));
  Time(app, w, "plain text and size, few", search(Named("000003", Mode::Plain, 199000)));
  Time(app, w, "plain text, every file", search(Named("file", Mode::Plain)));
  Time(app, w, "wildcard *7.dat", search(Named("*7.dat", Mode::Wildcard)));
  Time(app, w, "regular expression ^file_0+[13]\\.dat$",
       search(Named("^file_0+[13]\\.dat$", Mode::Regex)));
  Time(app, w, "newest 1,000", search(QuickCriteria(QuickList::Newest), ListedOrder::AsFound));
  Time(app, w, "at least 1M", search(QuickCriteria(QuickList::Larger, 1 << 20)));
  // The types pane over the whole scan: its steps run among the window's other events.
  p.MenuClick("mnuViewTypes");
  DiskCollection* disks = p.DiskList();
  NodeId drive = kNoNode;
  for (std::size_t i = 2; disks && i <= disks->Count(); ++i)
    if (disks->Item(i)->DiskObjectsIfAny() && !disks->Item(i)->DiskObjectsIfAny()->Empty())
      drive = disks->Item(i)->Node;
  Time(app, w, "file types of the whole scan", [drive](MainPresenter& pr) {
    GoIntoNode(pr, drive);
    while (!pr.TypesPaneState().Counts) Settle(1);
  });
  p.MenuClick("mnuViewTypes");
  // A scanned tree compared with its own scan saved as the history keeps it: read back,
  // compared on the worker, the root folder listed again with its Change column.
  if (tree && drive != kNoNode) {
    DiskObject& d = *std::get<DiskObject*>(p.Explorer().ItemData(drive));
    const std::string saved = tmp.filePath("earlier.json.zst").toStdString();
    std::string error;
    if (!ExportScanToFile(d, saved, error)) {
      std::fprintf(stderr, "%s\n", error.c_str());
      return 1;
    }
    GoIntoNode(p, p.Explorer().Node(drive)->Kids.front());
    Time(app, w, "compare with the saved scan", [&d, &saved](MainPresenter& pr) {
      CompareWithFile(pr, d, saved, "bench");
    });
  }
  return 0;
}
