// Times the list on one big folder against `ls -l` of the same folder (run it offscreen:
// QT_QPA_PLATFORM=offscreen).
//   list_bench [FILES [RUNS [BASE]]]
// Makes BASE/kestrum-list-bench-FILES/drive/files holding FILES files of varied sizes (kept
// for the next run), scans the drive in the window, then alternates, RUNS times: the folder
// listed from the tree in name order, the same sorted by size from the header, "Show
// Allocated Space" switched (a relisting), and `ls -l FOLDER >/dev/null`. Each window step
// is timed from the click to the rows painted, the folder read on the listing's worker.
// Prints the medians. Defaults: 100000 files, 3 runs, /tmp.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/presenter/navigation.h"
#include "gui/app/frmMain.h"
#include "support/test_support.h"

using namespace kestrum;

namespace {

// The folder of files, made once.
std::string MakeFolder(const std::string& base, long files) {
  const std::string top = base + "/kestrum-list-bench-" + std::to_string(files);
  const std::string folder = top + "/drive/files";
  const std::string done = top + "/complete";
  if (::access(done.c_str(), F_OK) == 0) return top;
  std::string cmd = "mkdir -p '" + folder + "'";
  if (std::system(cmd.c_str()) != 0) std::exit(1);
  std::fprintf(stderr, "making %ld files in %s ...\n", files, folder.c_str());
  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
  for (long i = 0; i < files; ++i) {
    char name[64];
    std::snprintf(name, sizeof name, "file-%07ld.dat", (i * 7919) % files);
    const int fd = ::openat(dir, name, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) std::exit(1);
    // Sparse sizes: no blocks written, but varied byte counts for the size order.
    if (::ftruncate(fd, (i * 104729) % 200000) != 0) std::exit(1);
    ::close(fd);
  }
  ::close(dir);
  FILE* f = std::fopen(done.c_str(), "w");
  if (f) std::fclose(f);
  return top;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

double LsMs(const std::string& folder) {
  const std::string cmd = "ls -l '" + folder + "' >/dev/null";
  QElapsedTimer t;
  t.start();
  if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "ls failed\n");
  return static_cast<double>(t.nsecsElapsed()) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const long files = argc > 1 ? std::atol(argv[1]) : 100000;
  const int runs = argc > 2 ? std::atoi(argv[2]) : 3;
  const std::string base = argc > 3 ? argv[3] : "/tmp";
  const std::string top = MakeFolder(base, files);
  const std::string drive = top + "/drive";

  QTemporaryDir tmp;
  const std::string cfg = tmp.path().toStdString();
  gui::frmMain w(cfg + "/Kestrum.conf", test::OnlyVolume(drive, cfg));
  w.resize(1000, 700);
  w.Form_Load();
  const QModelIndex d = w.treeModel()->index(0, 0, w.treeModel()->index(0, 0));
  w.tvTreeView()->setCurrentIndex(d);
  w.Presenter().Explorer().SetSelectedItem(w.treeModel()->NodeAt(d));
  w.Button("ScanDisks")->trigger();
  {
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
      if (!w.Loader()->Busy()) loop.quit();
    });
    poll.start(20);
    loop.exec();
  }

  CExplorer& ex = w.Presenter().Explorer();
  const NodeId rootFolder = ex.Node(ex.Node(ex.FirstNode())->Kids.front())->Kids.front();
  NodeId folder = kNoNode;
  ex.FetchChildren(rootFolder);  // made when first shown
  for (NodeId k : ex.Node(rootFolder)->Kids)
    if (ex.Node(k)->Text == "files") folder = k;
  if (!folder) return 1;

  // From the step to the listing painted.
  auto timed = [&](const std::function<void()>& step) {
    QElapsedTimer c;
    c.start();
    step();
    // The window thread sleeps in its event loop, as for a user, until the rows arrive.
    if (w.Presenter().ListingPending()) {
      QEventLoop loop;
      const auto c = QObject::connect(w.listModel(), &gui::ListModel::RowsReset, &loop, [&] {
        if (!w.Presenter().ListingPending()) loop.quit();
      });
      loop.exec();
      QObject::disconnect(c);
    }
    QCoreApplication::processEvents();
    w.lvListView()->viewport()->repaint();
    return static_cast<double>(c.nsecsElapsed()) / 1e6;
  };
  std::vector<double> byName, bySize, allocated, ls;
  for (int r = 0; r < runs + 1; ++r) {  // the first round warms the caches and is not counted
    const double n = timed([&] {
      ex.SetSelectedItem(folder);
      w.Presenter().tvTreeView_Click();
    });
    const double s = timed([&] { LvListView_ColumnClick(w.Presenter(), "Size"); });
    const double a = timed([&] { w.Action("mnuViewAllocated")->trigger(); });
    const double l = LsMs(drive + "/files");
    if (r == 0) continue;
    byName.push_back(n);
    bySize.push_back(s);
    allocated.push_back(a);
    ls.push_back(l);
  }
  std::printf("%ld files, rows listed %zu, medians of %d runs:\n", files,
              w.Presenter().List().Count(), runs);
  std::printf("  ls -l >/dev/null          %8.1f ms\n", Median(ls));
  std::printf("  listed in name order      %8.1f ms\n", Median(byName));
  std::printf("  sorted by size (header)   %8.1f ms\n", Median(bySize));
  std::printf("  allocated toggle relist   %8.1f ms\n", Median(allocated));
  return 0;
}
