// Times the window on big trees (run it offscreen: QT_QPA_PLATFORM=offscreen).
//   window_bench scan ROOT   the window's whole scan of ROOT as its only drive, from the
//                            "ScanDisks" button to "Done"; prints the seconds.
//   window_bench tree ROOT   scans ROOT on this thread, then times on the window thread the
//                            attach of the scanned drive to the tree, and expanding, scrolling
//                            and collapsing in the tree view, each step painted at once.
//   window_bench import FILE the same for a saved scan, read on this thread first.
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMessageBox>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cstdlib>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "core/adapter/folder_nodes.h"
#include "core/commands/attach_scan.h"
#include "core/saved/json_import.h"
#include "core/scan/scan.h"
#include "core/scan/scanning.h"
#include "core/tree/summary.h"
#include "gui/app/frmMain.h"
#include "gui/ui/frmZip.h"
#include "support/test_support.h"

using namespace kestrum;

namespace {

// A window whose only volume is ROOT, through a mount table of its own.
std::unique_ptr<gui::frmMain> WindowOver(const QTemporaryDir& tmp, const QString& root) {
  auto w = std::make_unique<gui::frmMain>(
      tmp.filePath("Kestrum.conf").toStdString(),
      test::OnlyVolume(root.toStdString(), tmp.path().toStdString()));
  w->resize(900, 700);
  w->Form_Load();
  return w;
}

QModelIndex DriveIndex(gui::frmMain& w) {
  return w.treeModel()->index(0, 0, w.treeModel()->index(0, 0));
}

void Paint(gui::frmMain& w) {
  QCoreApplication::processEvents();
  w.tvTreeView()->viewport()->repaint();
}

// Slowest and median of a series of step times in milliseconds.
void Summary(const char* what, std::vector<double> ms) {
  if (ms.empty()) return;
  std::sort(ms.begin(), ms.end());
  std::printf("%-34s steps %6zu  median %7.2f ms  slowest %7.2f ms\n", what, ms.size(),
              ms[ms.size() / 2], ms.back());
}

int Scan(const QString& root) {
  QTemporaryDir tmp;
  auto w = WindowOver(tmp, root);
  const QModelIndex d = DriveIndex(*w);
  w->tvTreeView()->setCurrentIndex(d);
  w->Presenter().Explorer().SetSelectedItem(w->treeModel()->NodeAt(d));
  QElapsedTimer clock;
  clock.start();
  // The window thread idles in its event loop, as it does for a user, until the scan is done.
  // The status line, looked at every 10 ms, splits the time into the folder scan and the
  // summary with the attach to the tree.
  QEventLoop loop;
  QTimer poll;
  double scanned = 0;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (scanned == 0 && w->Panel("Status")->text() == "Summarizing disk space...")
      scanned = clock.nsecsElapsed() / 1e9;
    if (!w->Loader()->Busy()) loop.quit();
  });
  poll.start(10);
  w->Button("ScanDisks")->trigger();
  loop.exec();
  Paint(*w);
  const double total = clock.nsecsElapsed() / 1e9;
  std::printf("window scan %.3f s (folders %.3f s, summary and attach %.3f s)  status \"%s\"\n",
              total, scanned, total - scanned, w->Panel("Status")->text().toUtf8().constData());
  return 0;
}

long StatusKiB(const char* key);

DiskObject* OnlyDrive(gui::frmMain& w) {
  DiskObject* drive = nullptr;
  for (const auto& o : *w.Presenter().DiskList())
    if (o->Class == ObjectClass::Drive) drive = o.get();
  return drive;
}

// Times the attach of result (a summarised scan) to drive, and the tree's steps after it.
int TimeTree(gui::frmMain& window, DiskObject& drive, DiskObject& result) {
  gui::frmMain* w = &window;
  const std::size_t folders = result.DiskObjects().Count();
  QTreeView* view = w->tvTreeView();
  gui::TreeModel* model = w->treeModel();
  const long rssBefore = StatusKiB("VmRSS");
  QElapsedTimer clock;
  clock.start();
  AttachScan(w->Presenter().Explorer(), drive, result);
  Paint(*w);
  std::printf("folders %zu  attach and paint %.3f s  tree nodes %zu  memory %+ld KiB\n", folders,
              clock.nsecsElapsed() / 1e9, w->Presenter().Explorer().NodeCount(),
              StatusKiB("VmRSS") - rssBefore);

  auto timed = [&](auto&& step) {
    clock.restart();
    step();
    Paint(*w);
    return clock.nsecsElapsed() / 1e6;
  };
  std::vector<double> ms;
  const QModelIndex driveIndex = DriveIndex(*w);
  ms.push_back(timed([&] { view->expand(driveIndex); }));
  const QModelIndex rootFolder = model->index(0, 0, driveIndex);
  ms.push_back(timed([&] { view->expand(rootFolder); }));
  Summary("expand drive, root folder", ms);

  // Open folders depth first, the way a user digs, until many rows are showing.
  ms.clear();
  std::vector<QModelIndex> stack{rootFolder};
  std::vector<QModelIndex> opened;
  while (!stack.empty() && opened.size() < 3000) {
    const QModelIndex at = stack.back();
    stack.pop_back();
    const int rows = model->rowCount(at);
    for (int r = rows - 1; r >= 0; --r) stack.push_back(model->index(r, 0, at));
    if (at != rootFolder && rows > 0) {
      ms.push_back(timed([&] { view->expand(at); }));
      opened.push_back(at);
    }
  }
  Summary("expand one folder (3000 folders)", ms);

  ms.clear();
  QScrollBar* bar = view->verticalScrollBar();
  std::printf("rows showing: scroll range %d, page %d\n", bar->maximum(), bar->pageStep());
  for (int i = 0; i < 400 && bar->value() < bar->maximum(); ++i)
    ms.push_back(timed([&] { bar->setValue(bar->value() + bar->pageStep()); }));
  Summary("scroll one page", ms);
  ms.clear();
  for (int i = 0; i < 200; ++i)
    ms.push_back(
        timed([&] { bar->setValue(static_cast<int>((i * 7919L) % (bar->maximum() + 1))); }));
  Summary("jump to a random place", ms);

  ms.clear();
  ms.push_back(timed([&] { view->collapse(rootFolder); }));
  ms.push_back(timed([&] { view->expand(rootFolder); }));
  Summary("collapse, re-expand root folder", ms);
  ms.clear();
  for (auto it = opened.rbegin(); it != opened.rend() && ms.size() < 3000; ++it)
    ms.push_back(timed([&] { view->collapse(*it); }));
  Summary("collapse one folder", ms);
  std::printf("tree nodes at the end %zu, peak memory %ld KiB\n",
              w->Presenter().Explorer().NodeCount(), StatusKiB("VmHWM"));
  return 0;
}

int Tree(const QString& root) {
  QTemporaryDir tmp;
  auto w = WindowOver(tmp, root);
  DiskObject* drive = OnlyDrive(*w);
  if (!drive) return 1;
  DiskObject result;
  result.Class = ObjectClass::Drive;
  result.SetPath(root.toStdString());
  result.DriveForChange().RootFolder = root.toStdString() + "/";
  result.DriveForChange().AllocationUnit = 4096;
  std::int32_t keys = 0;
  Scanning = true;
  ScanDrive(result, keys);
  Scanning = false;
  SummarizeSizes(result);
  return TimeTree(*w, *drive, result);
}

// The same for a saved scan read on this thread (the window's volume is a folder of its own).
int ImportTree(const QString& file) {
  QTemporaryDir tmp;
  auto w = WindowOver(tmp, tmp.path());
  DiskObject* drive = OnlyDrive(*w);
  if (!drive) return 1;
  DiskObject result;
  result.SetPath(file.toStdString());
  std::int32_t keys = 0;
  ImportError error;
  QElapsedTimer clock;
  clock.start();
  if (!ImportScan(file.toStdString(), result, keys, error)) {
    std::fprintf(stderr, "%s\n", error.Message.c_str());
    return 1;
  }
  std::printf("import read %.3f s\n", clock.nsecsElapsed() / 1e9);
  return TimeTree(*w, *drive, result);
}

// A line of /proc/self/status in KiB: "VmRSS", "VmHWM".
long StatusKiB(const char* key) {
  QFile f("/proc/self/status");
  if (!f.open(QIODevice::ReadOnly)) return -1;
  for (const QByteArray& line : f.readAll().split('\n'))
    if (line.startsWith(QByteArray(key) + ":"))
      return line.mid(qstrlen(key) + 1).trimmed().split(' ')[0].toLong();
  return -1;
}

int Zip(const QString& root, const QString& name, const QString& target) {
  QTemporaryDir tmp;
  auto w = WindowOver(tmp, root);
  w->show();
  {
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
      if (!w->Loader()->Busy()) loop.quit();
    });
    poll.start(10);
    w->Button("ScanDisks")->trigger();
    loop.exec();
  }
  QTreeView* tree = w->tvTreeView();
  const QModelIndex drive = DriveIndex(*w);
  tree->expand(drive);
  const QModelIndex rootFolder = w->treeModel()->index(0, 0, drive);
  QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualRect(rootFolder).center());
  QAbstractItemModel* list = w->lvListView()->model();
  auto rowOf = [&] {
    for (int r = 0; r < list->rowCount(); ++r)
      if (list->index(r, 0).data().toString() == name) return r;
    return -1;
  };
  for (int i = 0; i < 3000 && (w->Presenter().ListingPending() || rowOf() < 0); ++i)
    QTest::qWait(10);
  const int row = rowOf();
  if (row < 0) {
    std::fprintf(stderr, "no row %s in the list\n", qPrintable(name));
    return 1;
  }
  // With Ctrl, as a user picks rows: a plain click on a folder row would go into it.
  QTest::mouseClick(w->lvListView()->viewport(), Qt::LeftButton, Qt::ControlModifier,
                    w->lvListView()->visualRect(list->index(row, 0)).center());
  QCoreApplication::processEvents();
  const long before = StatusKiB("VmRSS");

  QElapsedTimer clock;
  QString result;
  // The zip window is modal: it is filled in and run from the event loop it runs.
  QTimer drive2;
  bool started = false;
  QObject::connect(&drive2, &QTimer::timeout, [&] {
    QWidget* modal = QApplication::activeModalWidget();
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
      result = box->text();  // the run did not end in "Done"
      box->accept();
      return;
    }
    auto* z = qobject_cast<gui::frmZip*>(modal);
    if (!z) return;
    if (!started) {
      started = true;
      z->TargetFileBox()->setText(target);
      clock.start();
      z->OKButton()->click();
    } else if (z->ZipStatusCtrl2()->Label()->text() == "Done") {
      result = "Done";
      z->OKButton()->click();
    }
  });
  drive2.start(20);
  w->Button("Zip")->trigger();
  const double seconds = clock.nsecsElapsed() / 1e9;
  drive2.stop();
  std::printf("window zip %.3f s, status \"%s\", memory before %ld KiB, peak %ld KiB\n", seconds,
              qPrintable(result), before, StatusKiB("VmHWM"));
  return result == "Done" ? 0 : 1;
}

// Scans ROOT in the window, then refreshes FOLDER (below ROOT) times times from the View menu,
// as a user does, and prints the resident memory after the first refresh and after the last:
// what refreshes of one branch leave behind.
int Refresh(const QString& root, const QString& folder, int times) {
  QTemporaryDir tmp;
  auto w = WindowOver(tmp, root);
  const auto waitIdle = [&w] {
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
      if (!w->Loader()->Busy() && !w->Slot().Busy()) loop.quit();
    });
    poll.start(10);
    loop.exec();
  };
  const QModelIndex d = DriveIndex(*w);
  w->tvTreeView()->setCurrentIndex(d);
  w->Presenter().Explorer().SetSelectedItem(w->treeModel()->NodeAt(d));
  w->Button("ScanDisks")->trigger();
  waitIdle();
  DiskObject* drive = OnlyDrive(*w);
  const std::string path = QDir(folder).absolutePath().toStdString() + "/";
  long first = 0;
  QElapsedTimer clock;
  clock.start();
  for (int i = 1; i <= times; ++i) {
    DiskObject* f = drive ? drive->DiskObjects().Find(path) : nullptr;
    if (!f) {
      std::fprintf(stderr, "%s is not a scanned folder of %s\n", path.c_str(),
                   qPrintable(root));
      return 1;
    }
    w->Presenter().Explorer().SetSelectedItem(MakeNode(w->Presenter().Explorer(), *f));
    w->Action("mnuViewRefresh")->trigger();
    waitIdle();
    if (i == 1) first = StatusKiB("VmRSS");
    if (i % 10 == 0) std::printf("after %d: resident %ld KiB\n", i, StatusKiB("VmRSS"));
  }
  const long last = StatusKiB("VmRSS");
  std::printf("%d refreshes in %.3f s; resident after the first %ld KiB, after the last %ld KiB "
              "(%+.1f%%)\n",
              times, clock.nsecsElapsed() / 1e9, first, last,
              first > 0 ? 100.0 * static_cast<double>(last - first) / static_cast<double>(first)
                        : 0.0);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc < 3) {
    std::fprintf(stderr, "usage: window_bench scan|tree ROOT | import FILE\n");
    return 2;
  }
  const std::string mode = argv[1];
  const QString root = QDir(QString::fromLocal8Bit(argv[2])).absolutePath();
  if (mode == "scan") return Scan(root);
  if (mode == "tree") return Tree(root);
  if (mode == "import") return ImportTree(root);
  if (mode == "refresh" && argc == 5)
    return Refresh(root, QString::fromLocal8Bit(argv[3]), std::atoi(argv[4]));
  if (mode == "zip" && argc == 5)
    return Zip(root, QString::fromLocal8Bit(argv[3]), QString::fromLocal8Bit(argv[4]));
  std::fprintf(stderr, "usage: window_bench scan|tree ROOT | import FILE | zip ROOT NAME TARGET | "
               "refresh ROOT FOLDER TIMES\n");
  return 2;
}
