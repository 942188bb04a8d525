// Comparing with an earlier scan through the real window offscreen: two scans of a temporary
// drive kept in the history, View > Compare With..., the earlier one chosen, the Change
// column and the rows of what went.
#include <QAbstractItemModel>
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include "core/saved/scan_history.h"
#include "gui/accessibility_audit.h"
#include "gui/app/frmMain.h"
#include "gui/controls/treemap_view.h"
#include "gui/ui/frmCompare.h"
#include "support/test_support.h"

using namespace kestrum;

namespace {

void Write(const QString& path, int bytes) {
  QDir().mkpath(QFileInfo(path).path());
  QFile f(path);
  QVERIFY(f.open(QIODevice::WriteOnly));
  f.write(QByteArray(bytes, 'x'));
}

}  // namespace

class TestCompareWindow : public QObject {
  Q_OBJECT
 private slots:
  void comparesWithAnEarlierScanFromTheHistory() {
    QTemporaryDir tmp, cfg;
    const QString drive = tmp.path() + "/drive";
    Write(drive + "/grows", 100);
    Write(drive + "/goes", 3000);
    Write(drive + "/folder/stays", 50);
    gui::frmMain w(cfg.filePath("Kestrum.conf").toStdString(),
                   test::OnlyVolume(drive.toStdString(), tmp.path().toStdString()));
    const std::string history = tmp.path().toStdString() + "/history";
    w.Presenter().SetHistoryFolder(history);
    w.resize(1000, 700);
    w.Form_Load();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QAbstractItemModel* tree = w.treeModel();
    const QModelIndex driveIndex = tree->index(0, 0, tree->index(0, 0));
    const auto scan = [&] {
      w.tvTreeView()->setCurrentIndex(driveIndex);
      w.Button("ScanDisks")->trigger();
      QTRY_VERIFY_WITH_TIMEOUT(!w.Presenter().Slot().Busy(), 10000);
    };
    scan();
    const HistoryRoot root{drive.toStdString(), {}};
    const std::vector<HistoryEntry> first = ScanHistory(history).List(root);
    QCOMPARE(first.size(), std::size_t{1});
    Write(drive + "/grows", 5000);
    Write(drive + "/new", 700);
    QVERIFY(QFile::remove(drive + "/goes"));
    scan();

    // Files shown, and the root folder clicked in the tree.
    w.Button("Files")->trigger();
    w.tvTreeView()->expand(driveIndex);
    const QModelIndex rootFolder = tree->index(0, 0, driveIndex);
    w.tvTreeView()->scrollTo(rootFolder);
    QTest::mouseClick(w.tvTreeView()->viewport(), Qt::LeftButton, {},
                      w.tvTreeView()->visualRect(rootFolder).center());
    QTRY_VERIFY_WITH_TIMEOUT(!w.Presenter().ListingPending(), 5000);
    QCOMPARE(w.lbPathLabel()->text(), drive + "/");
    QStringList faults;
    int offered = 0;
    QTimer::singleShot(50, [&] {
      auto* d = qobject_cast<gui::frmCompare*>(QApplication::activeModalWidget());
      QVERIFY(d);
      faults = test::AccessibilityFaults(d);
      offered = d->ScanList()->topLevelItemCount();
      // The scan shown is marked, and the earlier one is offered first.
      QVERIFY(d->ScanList()->topLevelItem(0)->text(0).endsWith(" (this scan)"));
      QCOMPARE(d->ScanList()->currentItem(), d->ScanList()->topLevelItem(1));
      for (std::size_t i = 0; i < d->Offer().Earlier.size(); ++i)
        if (d->Offer().Earlier[i].File == first.front().File)
          d->ScanList()->setCurrentItem(d->ScanList()->topLevelItem(static_cast<int>(i)));
      if (const QString shots = qEnvironmentVariable("KESTRUM_SHOTS"); !shots.isEmpty())
        d->grab().save(shots + "/compare-dialog.png");
      d->CompareButton()->click();
    });
    w.findChild<QAction*>("mnuViewCompare")->trigger();
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));
    QCOMPARE(offered, 2);
    QTRY_VERIFY_WITH_TIMEOUT(!w.Presenter().Slot().Busy(), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(!w.Presenter().ListingPending(), 5000);
    QVERIFY2(w.lbPathLabel()->text().contains("compared with the scan of "),
             qPrintable(w.lbPathLabel()->text()));
    QAbstractItemModel* list = w.lvListView()->model();
    int change = -1;
    for (int c = 0; c < list->columnCount(); ++c)
      if (list->headerData(c, Qt::Horizontal).toString() == "Change") change = c;
    QVERIFY(change > 0);
    QStringList cells;
    for (int r = 0; r < list->rowCount(); ++r)
      cells << list->index(r, 0).data().toString() + "=" + list->index(r, change).data().toString();
    cells.sort();
    QCOMPARE(cells, QStringList({"100 Largest Files=", "folder=", "goes=removed -2.92 kb", "grows=+4.78 kb",
                                 "new=new +700 b"}));
    // The change bar is read out as the change it stands for.
    for (int r = 0; r < list->rowCount(); ++r)
      if (list->index(r, 0).data().toString() == "grows")
        QCOMPARE(list->index(r, change + 1).data(Qt::AccessibleDescriptionRole).toString(),
                 QString("Changed by +4.78 kb, a bar of 60 of 60"));
    // The map coloured by change, with its legend of four.
    w.findChild<QAction*>("mnuViewTreemap")->trigger();
    w.findChild<QAction*>("mnuViewColourChange")->trigger();
    auto* legend = w.findChild<QListWidget*>("TreemapLegend");
    QVERIFY(legend);
    QTRY_COMPARE(legend->count(), 4);
    QCOMPARE(legend->item(1)->text(), QString("Grown"));
    QTRY_VERIFY(w.Treemap()->PictureMap() && w.Treemap()->PictureMap() == w.Presenter().MapPane().Map.get());
    if (const QString shots = qEnvironmentVariable("KESTRUM_SHOTS"); !shots.isEmpty())
      w.grab().save(shots + "/compare-window.png");

    // "None" ends it.
    QTimer::singleShot(50, [&] {
      auto* d = qobject_cast<gui::frmCompare*>(QApplication::activeModalWidget());
      QVERIFY(d);
      d->NoneButton()->click();
    });
    w.findChild<QAction*>("mnuViewCompare")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(!w.Presenter().ListingPending(), 5000);
    QVERIFY(!w.lbPathLabel()->text().contains("compared with"));
  }
};

QTEST_MAIN(TestCompareWindow)
#include "test_compare_window.moc"
