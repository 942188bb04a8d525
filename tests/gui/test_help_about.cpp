// The Help menu's two entries, the About and Options windows, F12, and folders scanned from
// the window: driven as a user would, offscreen. With KESTRUM_SHOT_DIR set, the help window
// (contents, index, a search) and the About window are also saved there as PNG files.
#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QHelpContentWidget>
#include <QHelpEngine>
#include <QHelpIndexWidget>
#include <QHelpSearchEngine>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <fstream>

#include "core/app/sys_info_tool.h"
#include "gui/accessibility_audit.h"
#include "gui/app/frmMain.h"
#include "gui/ui/ContextIDs.h"
#include "gui/ui/frmAbout.h"
#include "gui/ui/frmHelp.h"
#include "gui/ui/frmOptions.h"

using namespace kestrum;

namespace {
void Shot(QWidget* w, const QString& name) {
  const QString dir = qEnvironmentVariable("KESTRUM_SHOT_DIR");
  if (dir.isEmpty()) return;
  QDir().mkpath(dir);
  QTest::qWait(200);
  w->grab().save(dir + "/" + name + ".png");
}

gui::frmHelp* OpenHelpOf(QWidget* w) {
  for (gui::frmHelp* h : w->findChildren<gui::frmHelp*>())
    if (h->isVisible()) return h;
  return nullptr;
}
}  // namespace

class TestHelpAbout : public QObject {
  Q_OBJECT
  QTemporaryDir dir_;
  std::string Conf() const { return dir_.filePath("config/Kestrum/Kestrum.conf").toStdString(); }
  QString Cache() const { return dir_.filePath("cache"); }

 private slots:
  void initTestCase() {
    qputenv("XDG_CACHE_HOME", Cache().toUtf8());
    qputenv("XDG_CONFIG_DIRS", dir_.filePath("machine").toUtf8());
  }

  void helpContentsIndexAndSearch() {
    gui::frmMain w(Conf());
    w.Form_Load();
    // The build tree's collection, beside the executable.
    const QString built = QDir(QCoreApplication::applicationDirPath()).filePath("kestrum.qhc");
    QCOMPARE(gui::HelpFile(&w), built);
    const QDateTime builtTime = QFileInfo(built).lastModified();

    w.Action("mnuHelpContents")->trigger();
    gui::frmHelp* help = OpenHelpOf(&w);
    QVERIFY(help);
    QVERIFY2(help->Problem().isEmpty(), qPrintable(help->Problem()));
    QCOMPARE(help->Tabs()->currentIndex(), 0);
    QTRY_VERIFY(help->Browser()->source().toString().endsWith("pages/index.html"));
    QVERIFY(help->Browser()->toPlainText().contains("Getting started"));
    QTRY_VERIFY(help->Engine()->contentModel()->rowCount() == 1);
    QVERIFY(help->Engine()->contentModel()->rowCount(help->Engine()->contentModel()->index(0, 0)) >=
            12);
    QCOMPARE(help->windowTitle(), QString("Kestrum Help"));
    // Announced as a window with its title, every text and control readable.
    QCOMPARE(QAccessible::queryAccessibleInterface(help)->role(), QAccessible::Window);
    QCOMPARE(QAccessible::queryAccessibleInterface(help)->text(QAccessible::Name),
             QString("Kestrum Help"));
    for (int tab = 0; tab < 3; ++tab) {
      help->Tabs()->setCurrentIndex(tab);
      QVERIFY_READABLE(help);
    }
    help->Tabs()->setCurrentIndex(0);
    // Everything the engine writes is in the cache; the collection it came from is untouched.
    QVERIFY(help->OpenedCollection().startsWith(Cache() + "/Kestrum/help/"));
    QCOMPARE(QFileInfo(built).lastModified(), builtTime);
    QVERIFY(!QFileInfo::exists(QFileInfo(built).absolutePath() + "/.kestrum"));
    Shot(help, "help-contents");

    // A contents entry opens its page.
    QHelpContentWidget* contents = help->Engine()->contentWidget();
    const QModelIndex top = contents->model()->index(0, 0);
    QModelIndex pie;
    for (int r = 0; r < contents->model()->rowCount(top); ++r)
      if (contents->model()->index(r, 0, top).data().toString() == "The pie chart")
        pie = contents->model()->index(r, 0, top);
    QVERIFY(pie.isValid());
    emit contents->activated(pie);
    QTRY_VERIFY(help->Browser()->source().toString().endsWith("pages/pie-chart.html"));

    // "&Search For Help On...": the keyword index with nothing typed, every keyword listed.
    help->IndexFilter()->setText("left over");
    w.Action("mnuHelpSearch")->trigger();
    QCOMPARE(OpenHelpOf(&w), help);  // one help window per owner
    QCOMPARE(help->Tabs()->currentIndex(), 1);
    QCOMPARE(help->IndexFilter()->text(), QString());
    QHelpIndexWidget* index = help->Engine()->indexWidget();
    QTRY_VERIFY(index->model()->rowCount() > 50);
    Shot(help, "help-index");
    QTest::keyClicks(help->IndexFilter(), "TraceOverFlow");
    QTRY_COMPARE(index->model()->rowCount(), 2);  // TraceOverFlow, TraceOverFlowSize
    QTest::keyClick(help->IndexFilter(), Qt::Key_Return);
    QTRY_VERIFY(help->Browser()->source().toString().endsWith("pages/trace-log.html"));

    // The full-text search finds words that are in no title or keyword.
    QHelpSearchEngine* search = help->Engine()->searchEngine();
    // The index is built in the background when the window opens; search until it is there.
    const auto searchOnce = [&] {
      QSignalSpy found(search, &QHelpSearchEngine::searchingFinished);
      help->Search("inefficiency");
      return found.wait(5000) && search->searchResultCount() >= 1;
    };
    QTRY_VERIFY_WITH_TIMEOUT(searchOnce(), 60000);
    QVERIFY(search->searchResultCount() >= 1);
    bool statistics = false;
    for (const auto& r : search->searchResults(0, search->searchResultCount()))
      statistics |= r.url().toString().endsWith("pages/statistics.html");
    QVERIFY(statistics);
    Shot(help, "help-search");
    QVERIFY(QFileInfo::exists(Cache() + "/Kestrum/help/.kestrum"));  // the index, in the cache
    w.close();
  }

  void collectionCopyFollowsTheOriginal() {
    // An "installed" collection of its own, copied from the build's.
    QTemporaryDir installed, cache;
    const QString bin = QCoreApplication::applicationDirPath();
    for (const char* f : {"kestrum.qhc", "kestrum.qch"})
      QVERIFY(QFile::copy(bin + "/" + f, installed.filePath(f)));
    const QString original = installed.filePath("kestrum.qhc");
    const QString copy = gui::WritableCollection(original, cache.path());
    QCOMPARE(copy, cache.filePath("kestrum.qhc"));
    const QDateTime made = QFileInfo(copy).lastModified();
    QTest::qWait(20);
    QCOMPARE(gui::WritableCollection(original, cache.path()), copy);
    QCOMPARE(QFileInfo(copy).lastModified(), made);  // unchanged original: the copy is kept
    {
      QHelpEngineCore engine(copy);
      engine.setUsesFilterEngine(true);
      QVERIFY(engine.setupData());
      // The copy reads the pages where they were installed.
      QCOMPARE(QFileInfo(engine.documentationFileName("org.kestrum.help")).canonicalFilePath(),
               QFileInfo(installed.filePath("kestrum.qch")).canonicalFilePath());
      QCOMPARE(engine.registeredDocumentations(), QStringList{"org.kestrum.help"});
    }
    // A new original (an upgrade) is copied again.
    QFile f(original);
    QVERIFY(f.open(QIODevice::ReadWrite));
    QVERIFY(
        f.setFileTime(QDateTime::currentDateTime().addSecs(60), QFileDevice::FileModificationTime));
    f.close();
    QCOMPARE(gui::WritableCollection(original, cache.path()), copy);
    QVERIFY(QFileInfo(copy).lastModified() != made);
    QCOMPARE(QDir(cache.path()).entryList(QDir::Files),
             QStringList{"kestrum.qhc"});  // no leftovers
    // Nothing was written beside the original.
    QCOMPARE(QDir(installed.path())
                 .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)
                 .size(),
             2);
    // No cache folder to be had: the original, opened read-only.
    const QString blocked = installed.filePath("kestrum.qch") + "/cache";
    QCOMPARE(gui::WritableCollection(original, blocked), original);
  }

  void aboutShowsTheVersionRecordAndSystemInfo() {
    gui::frmMain w(Conf());
    w.Form_Load();
    w.Action("mnuHelpAbout")->trigger();
    auto* about = w.findChild<gui::frmAbout*>();
    QVERIFY(about);
    QVERIFY(about->isVisible());
    QVERIFY(about->isModal());
    QCOMPARE(about->parentWidget(), &w);
    QCOMPARE(about->windowTitle(), QString("About Kestrum"));
    QCOMPARE(about->Label("lblTitle")->text(), QString("Kestrum"));
    QCOMPARE(about->Label("lblVersion")->text(), QString("Version 0.1.0"));
    QVERIFY(about->Label("lblCompany")->text().contains("Kestrum developers"));
    QVERIFY(about->Label("lblCopyright")->text().startsWith("Copyright"));
    QVERIFY(!about->Label("lblComment")->text().isEmpty());
    QCOMPARE(about->windowIcon().cacheKey(), w.windowIcon().cacheKey());
    QVERIFY(!about->picIcon()->pixmap().isNull());
    for (int i = 1; i <= 3; ++i) {
      QVERIFY(about->Text(i)->isReadOnly());
      QVERIFY(!about->Text(i)->toPlainText().isEmpty());
      QVERIFY(!about->Text(i)->accessibleName().isEmpty());
    }
    QVERIFY(about->Text(1)->toPlainText().contains("GNU General Public License"));
    QVERIFY(about->Text(3)->toPlainText().contains("kestrum trace"));
    QCOMPARE(about->cmdOK()->text(), QString("OK"));
    QCOMPARE(about->cmdSysInfo()->text(), QString("&System Info..."));
    QVERIFY_READABLE(about);
    Shot(about, QString("about-%1dpi").arg(qRound(96 * about->devicePixelRatioF())));

    // No program anywhere: the message, and the About window stays.
    SysInfoSources none;
    none.settingsFile = dir_.filePath("missing.conf").toStdString();
    none.searchPath = dir_.filePath("empty").toStdString();
    about->Sources = none;
    QTest::mouseClick(about->cmdSysInfo(), Qt::LeftButton);
    auto* box = about->findChild<QMessageBox*>("msgSysInfo");
    QVERIFY(box);
    QCOMPARE(box->text(), QString("System Information Is Unavailable At This Time"));
    QCOMPARE(box->windowTitle(), QString("Kestrum"));
    QVERIFY_READABLE(box);
    QCOMPARE(box->icon(), QMessageBox::NoIcon);
    QCOMPARE(box->standardButtons(), QMessageBox::StandardButtons(QMessageBox::Ok));
    box->accept();
    QVERIFY(about->isVisible());

    // The program named by the machine-wide settings is started.
    const QString marker = dir_.filePath("started");
    const QString tool = dir_.filePath("tool.sh");
    {
      std::ofstream t(tool.toStdString());
      t << "#!/bin/sh\ntouch '" << marker.toStdString() << "'\n";
    }
    QFile::setPermissions(tool, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QString conf = dir_.filePath("sys.conf");
    {
      std::ofstream c(conf.toStdString());
      c << "[SystemInfo]\nPath=" << tool.toStdString() << "\\0\n";
    }
    SysInfoSources one = none;
    one.settingsFile = conf.toStdString();
    about->Sources = one;
    QVERIFY(about->StartSysInfo());
    QTRY_VERIFY(QFileInfo::exists(marker));

    // F12 in the About window opens the help where it can be used: beside the modal window.
    about->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(about));
    QTest::keyClick(about, Qt::Key_F12);
    gui::frmHelp* help = OpenHelpOf(about);
    QVERIFY(help);
    QCOMPARE(help->Tabs()->currentIndex(), 0);
    QTest::mouseClick(about->cmdOK(), Qt::LeftButton);
    QTRY_VERIFY(!w.findChild<gui::frmAbout*>());
    // F12 in the main window: the same operation.
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QTest::keyClick(&w, Qt::Key_F12);
    QVERIFY(OpenHelpOf(&w));
    w.close();
  }

  void optionsWindow() {
    gui::frmOptions o;
    QCOMPARE(o.windowTitle(), QString("Options"));
    QCOMPARE(o.Frame1()->title(), QString("Zip Options"));
    QCOMPARE(o.OKButton()->toolTip(), QString("Save changes and close Options form"));
    QCOMPARE(o.CancelButton()->text(), QString("CANCEL"));
    QCOMPARE(o.CancelButton()->toolTip(), QString("Close Options form without saving changes"));
    o.show();
    QTest::mouseClick(o.CancelButton(), Qt::LeftButton);
    QVERIFY(!o.isVisible());
    o.show();
    QTest::mouseClick(o.OKButton(), Qt::LeftButton);
    QVERIFY(!o.isVisible());
  }

  void foldersGivenToTheWindowAreScannedAndTheFirstListed() {
    QTemporaryDir tree;
    QDir(tree.path()).mkpath("proj/sub");
    QDir(tree.path()).mkpath("second");
    const auto write = [&](const QString& rel, int bytes) {
      QFile f(tree.filePath(rel));
      QVERIFY(f.open(QIODevice::WriteOnly));
      f.write(QByteArray(bytes, 'x'));
    };
    write("proj/a", 3000);
    write("proj/sub/b", 700);
    write("second/c", 11);
    gui::frmMain w(Conf());
    w.Form_Load();
    const int before = w.Presenter().Explorer().ChildCount(w.Presenter().Explorer().FirstNode());
    const std::string proj = tree.filePath("proj").toStdString();
    w.ScanFolders({proj, tree.filePath("second").toStdString(), "/no/such/folder"});
    QTRY_VERIFY_WITH_TIMEOUT(!w.Loader()->Busy(), 20000);
    CExplorer& ex = w.Presenter().Explorer();
    QCOMPARE(ex.ChildCount(ex.FirstNode()), before + 2);
    const ItemValue sel = ex.ItemData(ex.SelectedItem());
    QVERIFY(std::holds_alternative<DiskObject*>(sel));
    DiskObject* first = std::get<DiskObject*>(sel);
    QCOMPARE(first->OwnPath(), proj);
    QCOMPARE(first->UsedSpace, 3700.0);
    // The entry is listed like a drive: its root folder's row, the path label its path.
    QCOMPARE(w.lbPathLabel()->text(), QString::fromStdString(first->Path()));
    QCOMPARE(w.tvTreeView()->currentIndex(), w.treeModel()->IndexOf(first->Node));
    // Given again: scanned again, not added twice.
    w.ScanFolders({proj});
    QTRY_VERIFY_WITH_TIMEOUT(!w.Loader()->Busy(), 20000);
    QCOMPARE(ex.ChildCount(ex.FirstNode()), before + 2);
    // "&Scan Disks" adds them again after the volumes.
    w.Action("mnuScanDisks")->trigger();
    QCOMPARE(ex.ChildCount(ex.FirstNode()), before + 2);
    QCOMPARE(QString::fromStdString(ex.Node(ex.Node(ex.FirstNode())->Kids.back())->Text),
             QString("second (%1)").arg(tree.filePath("second")));
    QVERIFY(w.Action("mnuScanFolder"));
    QCOMPARE(w.Action("mnuScanFolder")->text(), QString("Scan &Folder..."));
    QCOMPARE(w.Action("mnuScanFolder")->shortcut(), QKeySequence(QKeySequence::Open));
    QCOMPARE(w.Action("mnuOpenScan")->text(), QString("&Open Scan..."));
    QCOMPARE(w.Action("mnuOpenScan")->shortcut(), QKeySequence("Ctrl+Shift+O"));
    QCOMPARE(w.Action("mnuExportScan")->text(), QString("&Export Scan..."));
    w.close();
  }
};

QTEST_MAIN(TestHelpAbout)
#include "test_help_about.moc"
