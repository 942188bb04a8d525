// The list driven through the real window offscreen, as a user would: scan a temporary
// drive, click in the tree and the list, switch files and sizes, sort by the headers, back
// up, open and close the pie chart.
#include <QAbstractItemModel>
#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QLegendMarker>
#include <QMenu>
#include <QPieSeries>
#include <QTemporaryDir>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <filesystem>

#include "core/presenter/layout.h"
#include "gui/accessibility_audit.h"
#include "gui/app/frmMain.h"
#include "gui/ui/frmFind.h"
#include "gui/controls/shell_open.h"
#include "support/test_support.h"

using namespace kestrum;

namespace {

void Write(const QString& path, int bytes) {
  QDir().mkpath(QFileInfo(path).path());
  QFile f(path);
  QVERIFY(f.open(QIODevice::WriteOnly));
  f.write(QByteArray(bytes, 'x'));
}

struct Fixture {
  QTemporaryDir tmp, cfg;
  QString drive;
  std::unique_ptr<gui::frmMain> w;
  std::vector<std::pair<std::string, bool>> opened;

  Fixture() {
    drive = tmp.path() + "/drive";
    Write(drive + "/alpha/a1", 100);
    Write(drive + "/alpha/a2", 2000);
    Write(drive + "/beta/deep/d", 10);
    Write(drive + "/top", 50);
    Write(drive + "/beta/two\nlines\ttab", 1);
    Write(drive + "/Recycler/r", 1);
    // A name that is not UTF-8.
    const QByteArray odd = QFile::encodeName(drive) + "/alpha/\xff.bin";
    FILE* f = std::fopen(odd.constData(), "w");
    if (f) std::fclose(f);
    w = std::make_unique<gui::frmMain>(
        cfg.filePath("Kestrum.conf").toStdString(),
        test::OnlyVolume(drive.toStdString(), tmp.path().toStdString()));
    w->ShellOpener = [this](const std::string& p, bool trash) {
      opened.emplace_back(p, trash);
      return true;
    };
    w->resize(1000, 700);
    w->Form_Load();
  }
  ~Fixture() {
    w.reset();
    // QDir cannot remove a name that is not UTF-8.
    std::error_code ec;
    std::filesystem::remove_all(QFile::encodeName(drive).toStdString(), ec);
  }
  QAbstractItemModel* List() const { return w->lvListView()->model(); }
  QAbstractItemModel* Tree() const { return w->treeModel(); }
  QModelIndex DriveIndex() const { return Tree()->index(0, 0, Tree()->index(0, 0)); }
  QStringList Column(int c) const {
    QStringList out;
    for (int r = 0; r < List()->rowCount(); ++r) out << List()->index(r, c).data().toString();
    return out;
  }
  QStringList Headers() const {
    QStringList out;
    for (int c = 0; c < List()->columnCount(); ++c)
      out << List()->headerData(c, Qt::Horizontal).toString();
    return out;
  }
  QString Status() const { return w->Panel("Status")->text(); }
  void ClickTree(const QModelIndex& i) {
    w->tvTreeView()->scrollTo(i);
    QTest::mouseClick(w->tvTreeView()->viewport(), Qt::LeftButton, {},
                      w->tvTreeView()->visualRect(i).center());
  }
  void ClickRow(const QString& text, Qt::MouseButton b = Qt::LeftButton,
                Qt::KeyboardModifiers m = {}) {
    const int row = static_cast<int>(Column(0).indexOf(text));
    QVERIFY2(row >= 0, qPrintable(text));
    const QModelIndex i = List()->index(row, 0);
    QTest::mouseClick(w->lvListView()->viewport(), b, m, w->lvListView()->visualRect(i).center());
    QCoreApplication::processEvents();  // the click runs after the release
  }
  void ClickHeader(const QString& text) {
    QHeaderView* h = w->lvListView()->header();
    const int c = static_cast<int>(Headers().indexOf(text));
    QTest::mouseClick(
        h->viewport(), Qt::LeftButton, {},
        QPoint(h->sectionViewportPosition(c) + h->sectionSize(c) / 2, h->height() / 2));
  }
  void WaitListed() { QTRY_VERIFY_WITH_TIMEOUT(!w->Presenter().ListingPending(), 5000); }
};

}  // namespace

class TestListWindow : public QObject {
  Q_OBJECT
 private slots:
  void browseSortToggleAndChart() {
    Fixture f;
    QVERIFY(QTest::qWaitForWindowExposed(f.w.get()));
    f.w->tvTreeView()->setCurrentIndex(f.DriveIndex());
    f.w->Button("ScanDisks")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(!f.w->Loader()->Busy(), 10000);
    QCOMPARE(f.Status(), QString("1 disk volume"));
    QCOMPARE(f.Headers(), QStringList({"Name", "Size", "Free", "% Free"}));
    QCOMPARE(f.List()->rowCount(), 1);
    QCOMPARE(f.w->lvListView()->currentIndex().row(), 0);  // the first row is selected

    // The drive, from the tree: its root folder and the statistics.
    f.ClickTree(f.DriveIndex());
    QCOMPARE(f.Headers(), QStringList({"Name", "Size", "% Parent", " "}));
    QCOMPARE(f.List()->rowCount(), 9);
    QCOMPARE(f.Column(0).mid(1, 2), QStringList({"Device Size", "Free Space"}));
    QCOMPARE(f.w->lbPathLabel()->text(), f.drive);

    // Into the root folder from the list.
    const QString rootRow = f.Column(0).front();
    f.ClickRow(rootRow);
    f.WaitListed();
    QCOMPARE(f.Column(0), QStringList({"100 Largest Files", "alpha", "beta", "Recycler"}));
    QVERIFY(f.Status().endsWith(" files for 50 b"));
    QCOMPARE(f.w->lbPathLabel()->text(), f.drive + "/");

    f.w->Button("Files")->trigger();
    QVERIFY(f.w->Action("mnuViewShowFiles")->isChecked());
    f.WaitListed();
    QCOMPARE(f.Column(0), QStringList({"100 Largest Files", "alpha", "beta", "Recycler", "top"}));
    QCOMPARE(f.Column(1).back(), QString("50 b"));

    // Cells: sizes right-aligned, the bar's text kept and described in words.
    const QModelIndex size = f.List()->index(0, 1);
    QCOMPARE(size.data(Qt::TextAlignmentRole).toInt() & Qt::AlignRight, int(Qt::AlignRight));
    const QModelIndex bar = f.List()->index(0, 3);
    QCOMPARE(bar.data().toString(), QString(60, '|'));
    QVERIFY(bar.data(Qt::AccessibleDescriptionRole).toString().startsWith("100.0 percent"));
    QVERIFY(!f.w->lvListView()->accessibleName().isEmpty());
    QVERIFY(!f.w->tvTreeView()->accessibleName().isEmpty());
    QVERIFY(!f.w->Graph()->accessibleName().isEmpty());
    // A screen reader hears the folder the path label shows, and every text of the window.
    QCOMPARE(QAccessible::queryAccessibleInterface(f.w->lbPathLabel())->text(QAccessible::Name),
             f.drive + "/");
    QVERIFY_READABLE(f.w.get());

    // Size order from the header, kept when going in.
    f.ClickHeader("Size");
    f.WaitListed();
    QCOMPARE(f.Column(0).front(), QString("100 Largest Files"));
    QCOMPARE(f.Column(0).mid(1, 1), QStringList({"alpha"}));
    f.ClickRow("alpha");
    f.WaitListed();
    QCOMPARE(f.Column(0).mid(0, 2), QStringList({"a2", "a1"}));
    QCOMPARE(f.Column(1).front(), QString("1.95 kb"));
    // At the default size (the window's first placement) the name gives way, to about a
    // dozen characters at the least, so that sizes, percentages and dates show whole.
    {
      const QHeaderView* h = f.w->lvListView()->header();
      QCOMPARE(f.Headers().back(), QString("Last Accessed"));
      QCOMPARE(f.w->width(), TwipsToPixels(10000, f.w->logicalDpiX()));
      QVERIFY(h->length() <= f.w->lvListView()->viewport()->width());
      QVERIFY(h->sectionSize(0) >= f.w->lvListView()->fontMetrics().averageCharWidth() * 12);
      if (const QString shots = qEnvironmentVariable("KESTRUM_SHOTS"); !shots.isEmpty())
        f.w->grab().save(shots + "/list-default-size.png");
    }
    // The odd name shows with a replacement character.
    QVERIFY(f.Column(0).back().contains(QChar(0xFFFD)));
    QCOMPARE(f.Column(0).back(), QString(QChar(0xFFFD)) + ".bin");

    // Show allocated space, from the menu: button and menu in step.
    f.w->Action("mnuViewAllocated")->trigger();
    QVERIFY(f.w->Button("Allocated")->isChecked());
    f.WaitListed();
    QCOMPARE(f.Column(1).mid(0, 2), QStringList({"4.0 kb", "4.0 kb"}));  // unit 4096 on ext4
    f.w->Button("Allocated")->trigger();
    QVERIFY(!f.w->Action("mnuViewAllocated")->isChecked());
    f.WaitListed();

    // Back up, twice, to the drive; a modifier click does nothing.
    f.w->Button("Back")->trigger();
    f.WaitListed();
    QCOMPARE(f.Column(0).front(), QString("100 Largest Files"));
    f.ClickRow("beta", Qt::LeftButton, Qt::ControlModifier);
    QCOMPARE(f.Column(0).front(), QString("100 Largest Files"));
    f.w->Action("mnuViewBackUp")->trigger();
    f.WaitListed();
    QCOMPARE(f.List()->rowCount(), 9);

    // The root folder's chart over the list, and back by a click on it.
    f.ClickRow(rootRow, Qt::RightButton);
    QTRY_VERIFY(f.w->Graph()->isVisible());
    QVERIFY(!f.w->lvListView()->isVisible());
    auto* series = qobject_cast<QPieSeries*>(f.w->Graph()->chart()->series().value(0));
    QVERIFY(series);
    QCOMPARE(series->count(), 4);
    const auto markers = f.w->Graph()->chart()->legend()->markers(series);
    QVERIFY(markers.value(0)->label().endsWith("% Free"));
    QVERIFY(markers.value(3)->label().endsWith("% Wasted"));
    const QString chartPath = f.w->lbPathLabel()->text();
    QTest::mouseClick(f.w->Graph()->viewport(), Qt::LeftButton);
    QVERIFY(!f.w->Graph()->isVisible());
    QVERIFY(f.w->lvListView()->isVisible());
    QCOMPARE(f.List()->rowCount(), 9);
    QCOMPARE(f.w->lbPathLabel()->text(), f.drive);
    QCOMPARE(chartPath, f.drive + "/");  // the root folder's Label while the chart showed

    // Enter on the selected row goes in, even after a right-button mouse-up.
    f.w->lvListView()->setCurrentIndex(f.List()->index(0, 0));
    f.w->lvListView()->setFocus();
    QTest::keyClick(f.w->lvListView(), Qt::Key_Return);
    f.WaitListed();
    QCOMPARE(f.Column(0).front(), QString("100 Largest Files"));

    // A name with a newline and a tab reads on one line.
    f.ClickRow("beta");
    f.WaitListed();
    QCOMPARE(f.Column(0).back(), QString("two") + QChar(0x240A) + "lines" + QChar(0x2409) + "tab");
    f.w->Button("Back")->trigger();
    f.WaitListed();

    // A right click on a folder row pops the file menu up.
    f.ClickRow("beta", Qt::RightButton);
    QTRY_VERIFY(f.w->FileMenuPopup()->isVisible());
    // While open it is a child of the application, as screen readers find windows.
    {
      QAccessibleInterface* app = QAccessible::queryAccessibleInterface(qApp);
      QAccessibleInterface* menu = QAccessible::queryAccessibleInterface(f.w->FileMenuPopup());
      const int at = app->indexOfChild(menu);
      QVERIFY(at >= 0);
      QCOMPARE(app->child(at), menu);
      QCOMPARE(menu->parent(), app);
      QStringList entries;
      for (int i = 0; i < menu->childCount(); ++i)
        if (menu->child(i)->role() == QAccessible::MenuItem)
          entries << menu->child(i)->text(QAccessible::Name);
      QCOMPARE(entries,
               QStringList({"Send to Recycle Bin", "Zip", "Refresh", "Delete", "Properties",
                            "Open", "Show in File Manager", "Open Terminal Here", "Copy Path"}));
    }
    f.w->FileMenuPopup()->close();
    // So does the menu key, on the selected row.
    f.w->lvListView()->setCurrentIndex(f.List()->index(f.Column(0).indexOf("beta"), 0));
    QContextMenuEvent menuKey(QContextMenuEvent::Keyboard, QPoint(5, 5), QPoint(5, 5));
    QApplication::sendEvent(f.w->lvListView(), &menuKey);
    QTRY_VERIFY(f.w->FileMenuPopup()->isVisible());
    f.w->FileMenuPopup()->close();

    // A recycle-bin folder opens in the file manager; the list stays empty.
    f.ClickRow("Recycler");
    QCOMPARE(f.List()->rowCount(), 0);
    QCOMPARE(f.opened.size(), std::size_t(1));
    QCOMPARE(QString::fromStdString(f.opened[0].first), f.drive + "/Recycler/");
  }

  // F5 refreshes the folder selected in the tree after another program changed it.
  // The window forwards every change of the list's room and every drag of a column's edge;
  // the widths themselves are ColumnFit's (tests/core/presenter/layout_test.cpp).
  void columnsFollowTheList() {
    Fixture f;
    QVERIFY(QTest::qWaitForWindowExposed(f.w.get()));
    f.w->tvTreeView()->setCurrentIndex(f.DriveIndex());
    f.w->Button("ScanDisks")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(!f.w->Loader()->Busy(), 10000);
    f.ClickTree(f.DriveIndex());
    QHeaderView* h = f.w->lvListView()->header();
    const QWidget* room = f.w->lvListView()->viewport();
    for (const int width : {1400, 700, 1000}) {
      f.w->resize(width, 700);
      QTRY_COMPARE(h->length(), room->width());
    }
    const int size = h->sectionSize(1);
    const int edge = h->sectionViewportPosition(1) + size - 1;
    const int y = h->height() / 2;
    QTest::mousePress(h->viewport(), Qt::LeftButton, {}, QPoint(edge, y));
    QTest::mouseMove(h->viewport(), QPoint(edge + 40, y));
    QTest::mouseRelease(h->viewport(), Qt::LeftButton, {}, QPoint(edge + 40, y));
    const int dragged = h->sectionSize(1);
    QVERIFY(dragged > size);
    f.w->resize(1300, 700);
    QTRY_COMPARE(h->length(), room->width());
    QCOMPARE(h->sectionSize(1), dragged);
    // The next listing fits every column again.
    f.ClickTree(f.Tree()->index(0, 0));
    f.ClickTree(f.DriveIndex());
    QCOMPARE(h->sectionSize(1), size);
    QCOMPARE(h->length(), room->width());
  }

  void f5RefreshesTheSelectedFolder() {
    Fixture f;
    QVERIFY(QTest::qWaitForWindowExposed(f.w.get()));
    f.w->tvTreeView()->setCurrentIndex(f.DriveIndex());
    f.w->Button("ScanDisks")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(!f.w->Loader()->Busy(), 10000);
    f.ClickTree(f.DriveIndex());
    f.ClickRow(f.Column(0).front());
    f.WaitListed();
    f.ClickRow("alpha");
    f.WaitListed();
    QCOMPARE(f.Status(), QString("0 folders, 3 files for 2.05 kb"));
    Write(f.drive + "/alpha/a3", 5000);
    QTest::keyClick(f.w.get(), Qt::Key_F5);
    QTRY_VERIFY_WITH_TIMEOUT(!f.w->Presenter().Slot().Busy(), 10000);
    f.WaitListed();
    QCOMPARE(f.Status(), QString("0 folders, 4 files for 6.93 kb"));
    QVERIFY(f.w->Action("mnuViewHardLinks")->isChecked());
    if (const QString shots = qEnvironmentVariable("KESTRUM_SHOTS"); !shots.isEmpty()) {
      QMenu* view =
          f.w->Action("mnuViewRefresh")->associatedObjects().isEmpty()
              ? nullptr
              : qobject_cast<QMenu*>(f.w->Action("mnuViewRefresh")->associatedObjects().front());
      if (view) {
        view->popup(f.w->mapToGlobal(QPoint(40, 30)));
        QTest::qWait(200);
        view->grab().save(shots + "/view-menu.png");
        view->close();
      }
      f.w->grab().save(shots + "/after-refresh.png");
    }
  }
  void findNamesFaultsInItsDialogAndListsWhatItFinds() {
    Fixture f;
    QVERIFY(QTest::qWaitForWindowExposed(f.w.get()));
    f.w->tvTreeView()->setCurrentIndex(f.DriveIndex());
    f.w->Button("ScanDisks")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(!f.w->Loader()->Busy(), 10000);
    QStringList faults;
    QString problem;
    QTimer::singleShot(50, [&] {
      auto* d = qobject_cast<gui::frmFind*>(QApplication::activeModalWidget());
      QVERIFY(d);
      faults = test::AccessibilityFaults(d);
      d->findChild<QComboBox*>("cboMatch")->setCurrentIndex(2);  // a regular expression
      QTest::keyClicks(d->NameBox(), "a(");
      d->SearchButton()->click();  // refused: the dialog stays, saying why
      problem = d->ProblemLabel()->text();
      QVERIFY(d->isVisible());
      d->NameBox()->setText("^a[0-9]$");
      d->findChild<QRadioButton*>("optEverywhere")->setChecked(true);
      if (const QString shots = qEnvironmentVariable("KESTRUM_SHOTS"); !shots.isEmpty())
        d->grab().save(shots + "/find.png");
      d->SearchButton()->click();
    });
    QTest::keyClick(f.w.get(), Qt::Key_F, Qt::ControlModifier);
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));
    QVERIFY2(problem.contains("missing closing parenthesis"), qPrintable(problem));
    QTRY_VERIFY_WITH_TIMEOUT(!f.w->Presenter().Slot().Busy(), 10000);
    f.WaitListed();
    QCOMPARE(f.Column(0), (QStringList{f.drive + "/alpha/a2", f.drive + "/alpha/a1"}));
    QCOMPARE(f.Status(), QString("2 files for 2.05 kb"));
    QVERIFY(f.w->lbPathLabel()->text().startsWith("Search Results: name matches \"^a[0-9]$\""));
    // The results folder is the tree's last entry under "My Computer", and selected.
    const QModelIndex top = f.Tree()->index(0, 0);
    const QModelIndex last = f.Tree()->index(f.Tree()->rowCount(top) - 1, 0, top);
    QCOMPARE(last.data().toString(), QString("Search Results"));
    QCOMPARE(f.w->tvTreeView()->currentIndex(), last);
    if (const QString shots = qEnvironmentVariable("KESTRUM_SHOTS"); !shots.isEmpty())
      f.w->grab().save(shots + "/search-results.png");
  }

  void fileTypesFollowTheSelectionAndListTheirFiles() {
    Fixture f;
    Write(f.drive + "/alpha/pic.png", 700);
    QVERIFY(QTest::qWaitForWindowExposed(f.w.get()));
    f.w->tvTreeView()->setCurrentIndex(f.DriveIndex());
    f.w->Button("ScanDisks")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(!f.w->Loader()->Busy(), 10000);
    f.w->Action("mnuViewTypes")->trigger();
    QVERIFY(f.w->TypesDock()->isVisible());
    QCOMPARE(f.w->Types()->MessageLabel()->text().left(20), QString("Nothing scanned is s"));
    f.ClickTree(f.DriveIndex());
    f.WaitListed();
    QTreeWidget* t = f.w->Types()->Table();
    QTRY_VERIFY(t->isVisible() && t->topLevelItemCount() > 0);
    // Largest first: the images (one png) before the rest; each category holds its endings.
    QTreeWidgetItem* images = nullptr;
    for (int i = 0; i < t->topLevelItemCount(); ++i)
      if (t->topLevelItem(i)->text(0) == "Images") images = t->topLevelItem(i);
    QVERIFY(images);
    QCOMPARE(images->childCount(), 1);
    QCOMPARE(images->child(0)->text(0), QString(".png"));
    QCOMPARE(images->child(0)->text(1), QString("1"));
    QCOMPARE(images->child(0)->text(4), f.drive + "/alpha/pic.png");
    // Screen readers read the cells through the model.
    QCOMPARE(t->model()->index(t->indexOfTopLevelItem(images), 0).data().toString(),
             QString("Images"));
    // Choosing a row marks its files on the map.
    t->setCurrentItem(images->child(0));
    QCOMPARE(f.w->Presenter().MapPane().Mark.Key, std::string("png"));
    // A row's files, listed in the results folder.
    f.w->Types()->ListFiles(images->child(0));
    QTRY_VERIFY_WITH_TIMEOUT(!f.w->Presenter().Slot().Busy(), 10000);
    f.WaitListed();
    QCOMPARE(f.Column(0), QStringList{f.drive + "/alpha/pic.png"});
    // Re-sortable by any column.
    t = f.w->Types()->Table();
    f.ClickTree(f.DriveIndex());
    f.WaitListed();
    QTRY_VERIFY(t->topLevelItemCount() > 0);
    t->sortByColumn(0, Qt::AscendingOrder);
    QStringList names;
    for (int i = 0; i < t->topLevelItemCount(); ++i) names << t->topLevelItem(i)->text(0);
    QStringList sorted = names;
    sorted.sort(Qt::CaseInsensitive);
    QCOMPARE(names, sorted);
    if (const QString shots = qEnvironmentVariable("KESTRUM_SHOTS"); !shots.isEmpty())
      f.w->grab().save(shots + "/types.png");
  }

  void folderUris() {
    // The file manager gets exact bytes, escaped; the trash as its own view.
    QCOMPARE(QString::fromStdString(gui::FolderUri("/a b/\xff/", false)),
             QString("file:///a%20b/%FF/"));
    QCOMPARE(QString::fromStdString(gui::FolderUri("/x/.Trash-1000/", true)), QString("trash:///"));
  }

  void aMillionRowsIsOneReset() {
    // The model follows a listing with one reset, not a signal per row.
    ListData data;
    gui::ListModel model(data);
    int resets = 0, inserts = 0;
    connect(&model, &QAbstractItemModel::modelReset, [&] { ++resets; });
    connect(&model, &QAbstractItemModel::rowsInserted, [&] { ++inserts; });
    std::vector<ListRow> rows(1000000);
    for (std::size_t i = 0; i < rows.size(); ++i) rows[i].Text = std::to_string(i);
    data.Assign(std::move(rows));
    QCOMPARE(resets, 1);
    QCOMPARE(inserts, 0);
    QCOMPARE(model.rowCount(), 1000000);
    QCOMPARE(model.index(999999, 0).data().toString(), QString("999999"));
  }
};

QTEST_MAIN(TestListWindow)
#include "test_list_window.moc"
