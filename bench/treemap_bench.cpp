// Times the treemap offscreen on a scanned tree, and takes screenshots of it.
//   treemap_bench [TREE [RUNS]]      (QT_QPA_PLATFORM=offscreen)
//   treemap_bench --shots OUTDIR     (under xvfb-run or offscreen, at any QT_SCALE_FACTOR)
// Timing: scans TREE (default the benchmark's tree of 50,000 folders,
// /tmp/kestrum-bench-tree-1000000-50000-8192) as a volume of its own in the window, lists
// its root folder, colours the map by file type, then RUNS times (default 7) alternately: the
// map of 1600 x 500 pixels laid out and painted (the layout on the pane's worker, the picture
// on the painter's thread) and a resize to 1500 x 470 and back. Prints every run, the
// medians, the longest time the window thread spent in one event (any event, while the map
// is made; the calls that ask for a map are counted too), and the pane's bytes per shown
// rectangle: the map's
// rectangles as allocated (capacity x their size) and its header, over the rectangles shown.
// KESTRUM_TREEMAP_PNG=FILE saves the last picture.
// Shots: a small tree with nested folders, the list and the map, light and dark, into
// OUTDIR/treemap-light.png and treemap-dark.png (and a drive's view, treemap-drive-*.png).
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/presenter/navigation.h"
#include "core/presenter/treemap_pane.h"
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

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

void Write(const QString& path, qint64 bytes) {
  QDir().mkpath(QFileInfo(path).path());
  QFile f(path);
  if (f.open(QIODevice::WriteOnly)) f.resize(bytes);
}

// Scans the window's one volume and lists its root folder.
void ScanAndListRoot(gui::frmMain& w) {
  w.Form_Load();
  const QModelIndex d = w.treeModel()->index(0, 0, w.treeModel()->index(0, 0));
  w.tvTreeView()->setCurrentIndex(d);
  w.Presenter().Explorer().SetSelectedItem(w.treeModel()->NodeAt(d));
  w.Button("ScanDisks")->trigger();
  while (w.Loader()->Busy()) Settle(50);
  Settle(200);
  MainPresenter& p = w.Presenter();
  p.tvTreeView_Click();    // "My Computer"
  lvListView_Enter(p, 1);  // the drive
  lvListView_Enter(p, 1);  // its root folder
  while (p.ListingPending()) Settle(10);
}

QPalette Dark() {
  QPalette p;
  p.setColor(QPalette::Window, QColor(45, 45, 48));
  p.setColor(QPalette::WindowText, QColor(230, 230, 230));
  p.setColor(QPalette::Base, QColor(30, 30, 32));
  p.setColor(QPalette::AlternateBase, QColor(40, 40, 44));
  p.setColor(QPalette::Text, QColor(230, 230, 230));
  p.setColor(QPalette::Button, QColor(55, 55, 58));
  p.setColor(QPalette::ButtonText, QColor(230, 230, 230));
  p.setColor(QPalette::Highlight, QColor(38, 110, 200));
  p.setColor(QPalette::HighlightedText, Qt::white);
  p.setColor(QPalette::ToolTipBase, QColor(60, 60, 64));
  p.setColor(QPalette::ToolTipText, QColor(230, 230, 230));
  p.setColor(QPalette::Mid, QColor(90, 90, 95));
  return p;
}

int Shots(const QString& out) {
  QDir().mkpath(out);
  QTemporaryDir tmp;
  const QString drive = tmp.path() + "/data";
  const char* names[] = {"Documents", "Music", "Pictures", "Videos", "Projects", "Games"};
  int k = 0;
  for (std::size_t t = 0; t < std::size(names); ++t) {
    const char* top = names[t];
    for (int sub = 0; sub < 4 + k % 3; ++sub) {
      const QString folder = drive + "/" + top + "/part-" + QString::number(sub);
      // Endings by the folder's kind and a few others, so that types show beside each other.
      const char* endings[] = {".odt", ".ogg", ".jpg", ".mp4", ".cpp", ".iso"};
      const char* others[] = {".zip", ".png", ".txt"};
      for (int f = 0; f < 3; ++f)
        Write(folder + "/file-" + QString::number(f) + (f == 2 ? others[k % 3] : endings[t]),
              (k * 7919 % 97 + 3) * 1048576 / (f + 1));
      Write(folder + "/inner/deep/x.bin", (k * 104729 % 53 + 1) * 524288);
      ++k;
    }
  }
  Write(drive + "/readme.md", 300000);
  Write(drive + "/backup.tar", 60 * 1048576);
  int status = 0;
  for (const bool dark : {false, true}) {
    if (dark) QApplication::setPalette(Dark());
    gui::frmMain w(tmp.filePath(dark ? "dark.conf" : "light.conf").toStdString(),
                   test::OnlyVolume(drive.toStdString(), tmp.path().toStdString()));
    ScanAndListRoot(w);
    w.resize(1100, 720);
    w.Presenter().MenuClick("mnuViewTreemap");
    Settle(400);
    MainPresenter& p = w.Presenter();
    TreemapKey(p, MapKey::Right);
    TreemapKey(p, MapKey::Right);
    Settle(300);
    const QString tone = dark ? "dark" : "light";
    w.grab().save(out + "/treemap-" + tone + ".png");
    // Coloured by file type, with its legend; then the images marked, the rest dimmed.
    SetMapColouring(p, MapColouring::FileType);
    Settle(500);
    w.grab().save(out + "/treemap-types-" + tone + ".png");
    SetMapHighlightType(p, {MapTypeMark::By::Category, FileCategory::Images, ""});
    Settle(400);
    w.grab().save(out + "/treemap-marked-" + tone + ".png");
    SetMapHighlightType(p, {});
    SetMapColouring(p, MapColouring::Branch);
    Settle(300);
    BackUpTree(p);  // the drive: its root folder in the map, the statistics in the list
    while (p.ListingPending()) Settle(10);
    Settle(400);
    w.grab().save(out + "/treemap-drive-" + tone + ".png");
    SetMapColouring(p, MapColouring::FileType);
    Settle(500);
    w.grab().save(out + "/treemap-drive-types-" + tone + ".png");
    if (!w.Treemap()->PictureMap()) status = 1;
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  TimedApp app(argc, argv);
  if (argc > 2 && std::string(argv[1]) == "--shots") return Shots(argv[2]);
  const std::string tree = argc > 1 ? argv[1] : "/tmp/kestrum-bench-tree-1000000-50000-8192";
  const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 7;
  if (!QDir(QString::fromStdString(tree)).exists()) {
    std::fprintf(stderr, "no tree at %s (bench/gen_tree makes it)\n", tree.c_str());
    return 2;
  }
  QTemporaryDir tmp;
  gui::frmMain w(
      tmp.filePath("Kestrum.conf").toStdString(),
      test::OnlyVolume(tree, QFileInfo(QString::fromStdString(tree)).path().toStdString()));
  QElapsedTimer scan;
  scan.start();
  ScanAndListRoot(w);
  w.resize(1800, 900);
  std::printf("scanned %s in %.1f s\n", tree.c_str(), scan.elapsed() / 1000.0);
  MainPresenter& p = w.Presenter();
  // The pane of the window is shown and then driven at the measured sizes.
  p.MenuClick("mnuViewTreemap");
  SetMapColouring(p, MapColouring::FileType);
  Settle(200);
  gui::TreemapView* view = w.Treemap();
  app.Timing = true;
  double longestBlock = 0;
  // From the size given to the picture shown: the layout here, the painting on its thread.
  auto timed = [&](int width, int height) {
    QElapsedTimer t;
    t.start();
    bool ready = false;
    const auto c = QObject::connect(view, &gui::TreemapView::pictureReady, [&] { ready = true; });
    view->resize(width, height);
    longestBlock = std::max(longestBlock, t.nsecsElapsed() / 1e6);
    while (!ready) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    QObject::disconnect(c);
    return t.nsecsElapsed() / 1e6;
  };
  std::vector<double> first, resize, layout;
  for (int i = 0; i < runs; ++i) {
    // "First": a new map of the listing, as after a click, at 1600 x 500.
    view->resize(1600, 500);
    ClearTreemap(p);
    p.MapPane().RowScan = {};  // as after a new listing: its rows read once more
    QElapsedTimer lt;
    lt.start();
    bool ready = false;
    const auto c = QObject::connect(view, &gui::TreemapView::pictureReady, [&] { ready = true; });
    UpdateTreemap(p);
    const double l = lt.nsecsElapsed() / 1e6;
    longestBlock = std::max(longestBlock, l);
    while (!ready) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    QObject::disconnect(c);
    first.push_back(lt.nsecsElapsed() / 1e6);
    layout.push_back(l);
    resize.push_back(timed(1500, 470));
    resize.push_back(timed(1600, 500));
    std::printf("run %d: asking %.1f ms, layout + first paint %.1f ms, resizes %.1f and %.1f ms\n",
                i + 1, l, first.back(), resize[resize.size() - 2], resize.back());
  }
  const Treemap* map = p.MapPane().Map.get();
  const double rects = map ? double(map->Rects.size()) : 0;
  const double bytes = map ? double(sizeof(Treemap) + map->Rects.capacity() * sizeof(MapRect)) : 0;
  std::printf("median: asking %.1f ms, layout + first paint %.1f ms, resize %.1f ms\n",
              Median(layout), Median(first), Median(resize));
  app.Timing = false;
  std::printf("longest window-thread time for the map: %.1f ms asking, %.1f ms in one event (%s); "
              "%.1f ms of the thread's processor time\n",
              longestBlock, app.Longest, app.What.c_str(), app.LongestCpu);
  std::printf("shown rectangles: %.0f, pane data %.0f bytes = %.2f bytes per rectangle\n", rects,
              bytes, rects > 0 ? bytes / rects : 0.0);
  // The picture itself, for a look: KESTRUM_TREEMAP_PNG names the file.
  if (const char* png = std::getenv("KESTRUM_TREEMAP_PNG")) view->Picture().save(png);
  p.MenuClick("mnuViewTreemap");
  std::printf("hidden: map %s\n", p.MapPane().Map ? "kept (fault)" : "dropped, 0 bytes");
  return 0;
}
