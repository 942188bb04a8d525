// Takes screenshots of the list for a look at the window (run under xvfb-run, at any
// QT_SCALE_FACTOR): a scanned drive with its statistics, a folder with files, the drives,
// the pie charts of a drive and of its root folder, and the drive saved and opened again as a
// saved scan.
//   list_screens OUTDIR
// Writes OUTDIR/drive.png, folder.png, drives.png, pie-drive.png, pie-root.png, saved.png and
// saved-folder.png; the folder again at three widths of the window (folder-720.png,
// folder-1400.png, and folder-dragged.png at 1400 after its size column was made wider, as a
// drag of its edge does); and "My Computer" with the saved scan (drives-saved.png).
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <string>

#include "core/saved/json_export.h"
#include "core/scan/scanning.h"
#include "core/presenter/navigation.h"
#include "gui/app/frmMain.h"
#include "support/test_support.h"

using namespace kestrum;

namespace {

void Write(const QString& path, qint64 bytes) {
  QDir().mkpath(QFileInfo(path).path());
  QFile f(path);
  if (!f.open(QIODevice::WriteOnly)) return;
  f.resize(bytes);
}

void Settle(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const QString out = argc > 1 ? argv[1] : ".";
  QDir().mkpath(out);
  QTemporaryDir tmp;
  const QString drive = tmp.path() + "/data";
  Write(drive + "/Documents/report-2026.odt", 184320);
  Write(drive + "/Documents/notes.txt", 2100);
  Write(drive + "/Documents/Taxes/2025.pdf", 734003);
  Write(drive + "/Music/album/track01.flac", 31457280);
  Write(drive + "/Music/album/track02.flac", 28311552);
  Write(drive + "/Pictures/holiday.jpg", 4718592);
  Write(drive + "/Pictures/a rather long file name for a picture of the sea.png", 1048576);
  Write(drive + "/Pictures/small.gif", 512);
  Write(drive + "/Pictures/empty", 0);
  Write(drive + "/Pictures/\xc3\xa9t\xc3\xa9.jpg", 65536);
  Write(drive + "/Videos/clip.mkv", 104857600);
  Write(drive + "/readme.md", 900);
  const QByteArray odd = QFile::encodeName(drive) + "/Pictures/bad-\xff-name.raw";
  if (FILE* f = std::fopen(odd.constData(), "w")) std::fclose(f);

  gui::frmMain w(tmp.filePath("Kestrum.conf").toStdString(),
                 test::OnlyVolume(drive.toStdString(), tmp.path().toStdString()));
  w.Form_Load();
  w.resize(980, 560);
  const QModelIndex d = w.treeModel()->index(0, 0, w.treeModel()->index(0, 0));
  w.tvTreeView()->setCurrentIndex(d);
  w.Presenter().Explorer().SetSelectedItem(w.treeModel()->NodeAt(d));
  w.Button("ScanDisks")->trigger();
  while (w.Loader()->Busy()) Settle(50);
  auto shot = [&](const char* name) {
    Settle(300);
    w.grab().save(out + "/" + name);
  };
  MainPresenter& p = w.Presenter();
  CExplorer& ex = p.Explorer();
  shot("drives.png");
  lvListView_MouseUp(p, kRightButton, 0);
  lvListView_Click(p, 1);
  shot("pie-drive.png");
  Graph_Click(p);

  ex.SetSelectedItem(w.treeModel()->NodeAt(d));
  w.tvTreeView()->setCurrentIndex(d);
  p.tvTreeView_Click();
  w.tvTreeView()->expand(d);
  shot("drive.png");
  lvListView_MouseUp(p, kRightButton, 0);
  lvListView_Click(p, 1);
  shot("pie-root.png");
  Graph_Click(p);

  lvListView_Enter(p, 1);  // into the root folder
  Settle(200);
  const NodeId root = p.SelectedNode();
  for (NodeId k : ex.Node(root)->Kids)
    if (ex.Node(k)->Text == "Pictures") {
      ex.SetSelectedItem(k);
      w.tvTreeView()->setCurrentIndex(w.treeModel()->IndexOf(k));
      p.tvTreeView_Click();
    }
  Settle(200);
  LvListView_ColumnClick(p, "Size");
  shot("folder.png");
  // The columns follow the window: the name takes what the others leave.
  w.resize(720, 560);
  shot("folder-720.png");
  w.resize(1400, 560);
  shot("folder-1400.png");
  // A width the user gave stays through a resize; the name takes the rest.
  p.Listing().Columns.UserResized(1, 180);
  w.resize(1300, 560);
  Settle(100);
  w.resize(1400, 560);
  shot("folder-dragged.png");
  w.resize(980, 560);

  // The same drive as a saved scan, listed from the file: its statistics, then a folder.
  std::string text, error;
  Scanning = true;
  ExportTree(
      drive.toStdString(),
      [&text](std::string_view piece) {
        text.append(piece);
        return true;
      },
      error);
  Scanning = false;
  const std::string saved = tmp.filePath("server.json").toStdString();
  if (FILE* f = std::fopen(saved.c_str(), "w")) {
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
  }
  w.ImportScans({saved});
  while (p.Slot().Busy()) Settle(50);
  NodeId entry = kNoNode;
  for (NodeId k : ex.Node(ex.FirstNode())->Kids)
    if (const DiskObject* o = ObjectOf(ex, k); o && o->Class == ObjectClass::Import) entry = k;
  ex.SetSelectedItem(entry);
  w.tvTreeView()->setCurrentIndex(w.treeModel()->IndexOf(entry));
  p.tvTreeView_Click();
  w.tvTreeView()->expand(w.treeModel()->IndexOf(entry));
  shot("saved.png");
  lvListView_Enter(p, 1);
  Settle(200);
  for (NodeId k : ex.Node(p.SelectedNode())->Kids)
    if (ex.Node(k)->Text == "Pictures") {
      ex.SetSelectedItem(k);
      w.tvTreeView()->setCurrentIndex(w.treeModel()->IndexOf(k));
      p.tvTreeView_Click();
    }
  Settle(200);
  shot("saved-folder.png");
  const NodeId top = ex.FirstNode();
  ex.SetSelectedItem(top);
  w.tvTreeView()->setCurrentIndex(w.treeModel()->IndexOf(top));
  p.tvTreeView_Click();
  shot("drives-saved.png");
  return 0;
}
