// The treemap pane through the real window offscreen: shown from the View menu and kept in
// the settings, clicked point by point on a tree the test does not look into, right-clicked,
// walked with the keyboard as a screen reader reads it (the announcements are heard over
// AT-SPI in tests/a11y), and read whole by the audit.
#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QMenu>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include "core/platform/settings.h"
#include "core/presenter/navigation.h"
#include "core/presenter/treemap_pane.h"
#include "gui/accessibility_audit.h"
#include "gui/app/frmMain.h"
#include "support/test_support.h"

using namespace kestrum;

namespace {

struct Fixture {
  QTemporaryDir tmp, cfg;
  QString drive;
  std::unique_ptr<gui::frmMain> w;

  explicit Fixture(const QByteArray& settings = {}) {
    drive = tmp.path() + "/drive";
    // A random tree: the test learns its shape only through the map and the model.
    QRandomGenerator rng(22);
    QStringList folders{drive};
    for (int i = 0; i < 40; ++i)
      folders << folders[rng.bounded(folders.size())] + "/f" + QString::number(i);
    for (int i = 0; i < 120; ++i) {
      const char* endings[] = {".jpg", ".mp4", ".txt", ".ogg"};
      const QString path = folders[rng.bounded(folders.size())] + "/file" + QString::number(i) +
                           endings[i % 4];
      QDir().mkpath(QFileInfo(path).path());
      QFile f(path);
      if (f.open(QIODevice::WriteOnly)) f.write(QByteArray(rng.bounded(1, 60000), 'x'));
    }
    if (!settings.isEmpty()) {
      QFile s(cfg.filePath("Kestrum.conf"));
      if (s.open(QIODevice::WriteOnly)) s.write(settings);
    }
    w = std::make_unique<gui::frmMain>(
        cfg.filePath("Kestrum.conf").toStdString(),
        test::OnlyVolume(drive.toStdString(), tmp.path().toStdString()));
    w->Form_Load();
    w->resize(1000, 760);
  }
  MainPresenter& P() { return w->Presenter(); }
  void ScanAndListRoot() {
    const QModelIndex d = w->treeModel()->index(0, 0, w->treeModel()->index(0, 0));
    w->tvTreeView()->setCurrentIndex(d);
    P().Explorer().SetSelectedItem(w->treeModel()->NodeAt(d));
    w->Button("ScanDisks")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(!w->Loader()->Busy(), 10000);
    lvListView_Enter(P(), 1);  // the drive
    lvListView_Enter(P(), 1);  // its root folder
    QTRY_VERIFY(!P().ListingPending());
  }
  void WaitPicture() {
    QTRY_VERIFY(w->Treemap()->PictureMap() &&
                w->Treemap()->PictureMap() == P().MapPane().Map.get());
  }
};

}  // namespace

class TestTreemapWindow : public QObject {
  Q_OBJECT
 private slots:
  void shownFromTheMenuAndKept() {
    QString conf;
    {
      Fixture f("[Settings]\nTreemap=garbled\nTreemapSplit=zz\n");
      QVERIFY(QTest::qWaitForWindowExposed(f.w.get()));
      QVERIFY(!f.w->Treemap()->isVisible());
      QAction* item = f.w->Action("mnuViewTreemap");
      QCOMPARE(item->text(), QString("Tree&map"));
      QCOMPARE(item->shortcut(), QKeySequence("Ctrl+M"));
      QVERIFY(!item->isChecked());
      f.ScanAndListRoot();
      const int listHeight = f.w->lvListView()->height();
      item->trigger();
      QVERIFY(item->isChecked());
      QVERIFY(f.w->Treemap()->isVisible());
      QVERIFY(f.w->lvListView()->height() < listHeight);
      // Below the list, on the right side.
      QVERIFY(f.w->Treemap()->geometry().top() > f.w->lvListView()->geometry().bottom());
      QCOMPARE(f.w->Treemap()->geometry().left(), f.w->lvListView()->geometry().left());
      f.WaitPicture();
      // Nested rectangles in several colours, not one flat fill.
      const QImage& img = f.w->Treemap()->Picture();
      QSet<QRgb> colours;
      for (int y = 0; y < img.height(); y += 7)
        for (int x = 0; x < img.width(); x += 7) colours.insert(img.pixel(x, y));
      QVERIFY(colours.size() > 20);
      QVERIFY(kestrum::test::AccessibilityFaults(f.w.get()).isEmpty());
      // The handle above the pane gives it more room, kept as a share.
      auto* handle = f.w->findChild<gui::SplitHandle*>();
      QVERIFY(handle && handle->isVisible());
      const int mapHeight = f.w->Treemap()->height();
      emit handle->dragged(handle->y() - 60);
      QVERIFY(f.w->Treemap()->height() > mapHeight + 40);
      const double split = f.w->TreemapSplit();
      QVERIFY(split > TreemapSettings{}.Split);
      conf = f.cfg.filePath("Kestrum.conf");
      // Kept as soon as the handle is let go.
      emit handle->released();
      IniFile now;
      now.Load(conf.toStdString());
      QVERIFY(std::abs(ReadTreemapSettings(now).Split - split) < 1e-3);
      f.w->close();
      IniFile ini;
      ini.Load(conf.toStdString());
      QCOMPARE(ReadTreemapSettings(ini).Shown, true);
      QVERIFY(std::abs(ReadTreemapSettings(ini).Split - split) < 1e-3);
    }
  }

  void clicksLandOnTheOwnerOfEachPoint() {
    Fixture f("[Settings]\nTreemap=1\nTreemapSplit=0.5\n");
    QVERIFY(QTest::qWaitForWindowExposed(f.w.get()));
    f.ScanAndListRoot();
    QVERIFY(f.w->Treemap()->isVisible());
    f.WaitPicture();
    const Treemap& map = *f.P().MapPane().Map;
    QWidget* pane = f.w->Treemap();
    QMap<int, int> hits;
    int points = 0;
    const auto generation = f.P().Listing().Generation;
    for (int y = 3; y < pane->height(); y += 9) {
      for (int x = 3; x < pane->width(); x += 9) {
        ++points;
        QTest::mouseClick(pane, Qt::LeftButton, {}, QPoint(x, y));
        const std::uint32_t hit = MapHit(map, float(x), float(y));
        if (hit == kNoRect) continue;
        const int row = f.w->lvListView()->currentIndex().row();
        // The row selected holds the object under the point: its path begins the point's.
        // The folder's own files have no row: then none is selected.
        const std::string owner = DescribeMapRect(f.P(), MapTopOf(map, hit)).Path;
        const std::string under = DescribeMapRect(f.P(), hit).Path;
        if (MapRowOf(f.P(), hit) == 0) {
          QCOMPARE(row, -1);
          QVERIFY(f.w->lvListView()->selectionModel()->selectedRows().isEmpty());
          continue;
        }
        QVERIFY(row >= 0);
        const ListRow& r = f.P().List().Rows()[std::size_t(row)];
        QVERIFY2(
            owner.ends_with(r.Text) || owner.ends_with(r.Text + "/"),
            (owner + " row " + r.Text + " " + std::to_string(x) + "," + std::to_string(y)).c_str());
        QVERIFY2(under.starts_with(owner), under.c_str());
        ++hits[row];
      }
    }
    QCOMPARE(f.P().Listing().Generation, generation);
    // Each child's share of the points follows its share of the size.
    QVERIFY(hits.size() >= 3);
    for (auto it = hits.begin(); it != hits.end(); ++it) {
      const std::uint32_t top = [&] {
        for (std::uint32_t i = 0; i < map.Rects.size(); i = map.Rects[i].End)
          if (MapRowOf(f.P(), i) == std::size_t(it.key()) + 1) return i;
        return kNoRect;
      }();
      QVERIFY(top != kNoRect);
      const double share = DescribeMapRect(f.P(), top).Share;
      QVERIFY2(std::abs(double(it.value()) / points - share) < 0.03,
               qPrintable(QString::number(share)));
    }
    // A tooltip names the path, the size and the share.
    const QString tip = f.w->Treemap()->TooltipText(0);
    QVERIFY(tip.contains(f.drive) && tip.contains("%"));
    // A right click opens the row menu for the row under the point.
    const MapRect& first = map.Rects[0];
    const QPoint at(int(first.X) + 1, int(first.Y) + 1);
    QContextMenuEvent menu(QContextMenuEvent::Mouse, at, pane->mapToGlobal(at));
    QApplication::sendEvent(pane, &menu);
    QTRY_VERIFY(f.w->FileMenuPopup()->isVisible());
    QCOMPARE(std::size_t(f.w->lvListView()->currentIndex().row()) + 1, MapRowOf(f.P(), 0));
    f.w->FileMenuPopup()->hide();
  }

  void theKeyboardAsAScreenReaderHearsIt() {
    Fixture f("[Settings]\nTreemap=1\n");
    QVERIFY(QTest::qWaitForWindowExposed(f.w.get()));
    f.ScanAndListRoot();
    f.WaitPicture();
    QWidget* pane = f.w->Treemap();
    pane->setFocus();
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(pane);
    QCOMPARE(a->text(QAccessible::Name), QString("Treemap"));
    QTest::keyClick(pane, Qt::Key_Right);
    const QString first = a->text(QAccessible::Description);
    QVERIFY2(first.startsWith(f.drive) && first.endsWith("%"), qPrintable(first));
    QTest::keyClick(pane, Qt::Key_Right);
    QVERIFY(a->text(QAccessible::Description) != first);
    QTest::keyClick(pane, Qt::Key_Left);
    QCOMPARE(a->text(QAccessible::Description), first);
    const NodeId listed = f.P().SelectedNode();
    QTest::keyClick(pane, Qt::Key_Backspace);  // out of the outermost level: up one
    QVERIFY(f.P().SelectedNode() != listed);
  }

  void colouredByTypeWithItsLegendAndAMark() {
    Fixture f("[Settings]\nTreemap=1\n");
    QVERIFY(QTest::qWaitForWindowExposed(f.w.get()));
    f.ScanAndListRoot();
    f.WaitPicture();
    gui::TreemapView* view = f.w->Treemap();
    QAction* byBranch = f.w->Action("mnuViewColourBranch");
    QAction* byType = f.w->Action("mnuViewColourType");
    QVERIFY(byBranch && byType);
    QCOMPARE(byType->text(), QString("File &Type"));
    QVERIFY(byBranch->isChecked() && !byType->isChecked());
    QVERIFY(!view->Legend() || view->Legend()->isHidden());
    byType->trigger();
    QVERIFY(byType->isChecked() && !byBranch->isChecked());
    // The legend takes the pane's right; the map is laid out again for what is left.
    QListWidget* legend = view->Legend();
    QVERIFY(legend && legend->isVisible());
    QTRY_VERIFY(f.P().MapPane().Map && f.P().MapPane().Map->Width == view->width() - legend->width());
    f.WaitPicture();
    QTRY_COMPARE(legend->count(), 4);
    // Each row read by a screen reader: category and share.
    QAccessibleInterface* list = QAccessible::queryAccessibleInterface(legend);
    QStringList heard;
    for (int i = 0; i < list->childCount(); ++i) heard << list->child(i)->text(QAccessible::Name);
    heard.sort();
    QCOMPARE(heard.size(), 4);
    for (const char* category : {"Audio, ", "Images, ", "Source and text, ", "Video, "})
      QVERIFY2(heard.filter(category).size() == 1, qPrintable(heard.join("|")));
    // Kept in the settings.
    QFile conf(f.cfg.filePath("Kestrum.conf"));
    QVERIFY(conf.open(QIODevice::ReadOnly));
    QVERIFY(conf.readAll().contains("TreemapColour=type"));
    // A file's tooltip says its type.
    const Treemap& map = *f.P().MapPane().Map;
    std::uint32_t file = 0;
    while (file < map.Rects.size() && map.Rects[file].Kind != MapKind::File) ++file;
    QVERIFY(file < map.Rects.size());
    const QString tip = view->TooltipText(file);
    QVERIFY2(tip.contains("(image/jpeg)") || tip.contains("(video/mp4)") ||
                 tip.contains("(text/plain)") || tip.contains("(audio/"),
             qPrintable(tip));
    // Marking the images dims the rest: a new picture of the same map.
    const QImage before = view->Picture();
    SetMapHighlightType(f.P(), {MapTypeMark::By::Category, FileCategory::Images, ""});
    QTRY_VERIFY(view->Picture() != before);
    const QStringList faults = kestrum::test::AccessibilityFaults(f.w.get());
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join("\n")));
  }
};

QTEST_MAIN(TestTreemapWindow)
#include "test_treemap_window.moc"
