// "ScanDisks" and "Stop" driven through the window offscreen: status lines, the tree during
// and after a scan, refusal of model-changing commands while busy.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAction>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <thread>

#include "core/commands/status_texts.h"
#include "core/scan/scanning.h"
#include "gui/app/frmMain.h"
#include "support/test_support.h"

using namespace kestrum;

namespace {

void MakeTree(const QString& root, int folders, int filesEach) {
  for (int i = 0; i < folders; ++i) {
    const QString dir = root + QString("/f%1/sub").arg(i);
    QDir().mkpath(dir);
    for (int k = 0; k < filesEach; ++k) {
      QFile f(dir + QString("/file%1").arg(k));
      QVERIFY(f.open(QIODevice::WriteOnly));
      f.write(QByteArray(100 * (k + 1), 'x'));
    }
  }
}

// A window whose only volume is a temporary folder.
struct Fixture {
  QTemporaryDir tmp, cfg;
  QString drive;
  std::unique_ptr<gui::frmMain> w;
  explicit Fixture(int folders) {
    drive = tmp.path() + "/drive";
    MakeTree(drive, folders, 3);
    w = std::make_unique<gui::frmMain>(
        cfg.filePath("Kestrum.conf").toStdString(),
        test::OnlyVolume(drive.toStdString(), tmp.path().toStdString()));
    w->Form_Load();
  }
  QModelIndex DriveIndex() const {
    return w->treeModel()->index(0, 0, w->treeModel()->index(0, 0));
  }
  void SelectDrive() {
    const QModelIndex d = DriveIndex();
    w->tvTreeView()->setCurrentIndex(d);
    w->Presenter().Explorer().SetSelectedItem(w->treeModel()->NodeAt(d));
  }
  QString Status() const { return w->Panel("Status")->text(); }
};

}  // namespace

class TestScanWindow : public QObject {
  Q_OBJECT
 private slots:
  void scanFillsTheTreeAndEndsAtTheRoot() {
    Fixture f(6);
    f.SelectDrive();
    f.w->Button("ScanDisks")->trigger();
    QVERIFY(f.w->Loader()->Busy());
    QTRY_VERIFY_WITH_TIMEOUT(!f.w->Loader()->Busy(), 10000);
    QCOMPARE(f.Status(), QString("1 disk volume"));
    QVERIFY(!Scanning);
    QVERIFY(f.w->tvTreeView()->isEnabled());
    const QModelIndex root = f.w->treeModel()->index(0, 0);
    QCOMPARE(f.w->tvTreeView()->currentIndex(), root);
    QVERIFY(f.w->tvTreeView()->isExpanded(root));
    const QModelIndex drive = f.DriveIndex();
    QCOMPARE(f.w->treeModel()->rowCount(drive), 1);  // the root folder replaced the placeholder
    const QModelIndex rootFolder = f.w->treeModel()->index(0, 0, drive);
    QStringList kids;
    for (int r = 0; r < f.w->treeModel()->rowCount(rootFolder); ++r)
      kids << f.w->treeModel()->index(r, 0, rootFolder).data().toString();
    QCOMPARE(kids, QStringList({"100 Largest Files", "f0", "f1", "f2", "f3", "f4", "f5"}));
    DiskObject* d = std::get<DiskObject*>(
        f.w->Presenter().Explorer().ItemData(f.w->treeModel()->NodeAt(drive)));
    QCOMPARE(d->DiskObjects().Count(), std::size_t(13));
    QCOMPARE(d->UsedSpace, 6.0 * (100 + 200 + 300));

    // A second scan replaces the first one's subtree.
    f.SelectDrive();
    f.w->Button("ScanDisks")->trigger();
    QVERIFY(f.w->Loader()->Busy());
    QTRY_VERIFY_WITH_TIMEOUT(!f.w->Loader()->Busy(), 10000);
    QCOMPARE(f.Status(), QString("1 disk volume"));
    QCOMPARE(f.w->treeModel()->rowCount(f.DriveIndex()), 1);
  }

  void stopKeepsAPartialResultAndBusyRefusesCommands() {
    Fixture f(60);
    // Slow the worker down so that Stop arrives mid-scan.
    f.w->Loader()->AfterFolder = [](const DiskObject&) {
      std::this_thread::sleep_for(std::chrono::milliseconds(15));
    };
    f.SelectDrive();
    f.w->Button("ScanDisks")->trigger();
    QVERIFY(Scanning);
    QVERIFY(!f.w->tvTreeView()->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(f.Status().contains(" folders scanned: "), 5000);
    QVERIFY(f.Status().contains(" files"));
    DiskCollection* before = f.w->Presenter().DiskList();
    f.w->Action("mnuScanDisks")->trigger();  // refused: the model stays
    QCOMPARE(f.w->Presenter().DiskList(), before);
    f.w->Button("Stop")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(!f.w->Loader()->Busy(), 5000);
    QCOMPARE(f.Status(), QString("1 disk volume"));
    DiskObject* d = std::get<DiskObject*>(
        f.w->Presenter().Explorer().ItemData(f.w->treeModel()->NodeAt(f.DriveIndex())));
    const std::size_t scanned = d->DiskObjects().Count();
    QVERIFY(scanned >= 1 && scanned < 121);
    QVERIFY(d->Drive().Folder100 != nullptr);
    // The partial totals are those of the folders read.
    double sum = 0;
    for (const auto& o : d->DiskObjects()) sum += o->fUsedSpace;
    QCOMPARE(d->UsedSpace, sum);
  }

  void closingDuringAScanStopsItAndSaves() {
    Fixture f(60);
    f.w->Loader()->AfterFolder = [](const DiskObject&) {
      std::this_thread::sleep_for(std::chrono::milliseconds(15));
    };
    f.SelectDrive();
    f.w->Button("ScanDisks")->trigger();
    QTest::qWait(100);
    f.w->close();
    QVERIFY(!Scanning);
    QVERIFY(QFile::exists(f.cfg.filePath("Kestrum.conf")));
  }

  // A saved scan is read on the worker: the window keeps serving its events, shows the bytes
  // read, refuses other long commands, and closing it ends the read; nothing is added.
  void importRunsAsALongCommandAndClosingEndsIt() {
    Fixture f(1);
    const std::string fifo = f.tmp.filePath("fifo").toStdString();
    QCOMPARE(::mkfifo(fifo.c_str(), 0600), 0);
    const std::size_t entries = f.w->Presenter().DiskList()->Count();
    f.w->ImportScans({fifo});
    QVERIFY(Scanning);
    QVERIFY(!f.w->tvTreeView()->isEnabled());
    const int fd = ::open(fifo.c_str(), O_WRONLY);  // once the worker has opened it
    QVERIFY(fd >= 0);
    const std::string part = "[1,2,{},[{\"name\":\"/srv\"},";
    QCOMPARE(::write(fd, part.data(), part.size()), static_cast<ssize_t>(part.size()));
    QTRY_COMPARE_WITH_TIMEOUT(f.Status(), QString("Reading fifo: %1 b").arg(part.size()), 5000);
    f.SelectDrive();
    f.w->Button("ScanDisks")->trigger();  // refused while the import runs
    QCOMPARE(f.Status(), QString(kBusyStatus));
    f.w->close();  // returns once the worker has ended
    ::close(fd);
    QVERIFY(!Scanning);
    QCOMPARE(f.w->Presenter().DiskList()->Count(), entries);
  }
};

QTEST_MAIN(TestScanWindow)
#include "test_scan_window.moc"
