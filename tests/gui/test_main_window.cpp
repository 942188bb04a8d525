// The main window: commands exactly as named, switches in step, layout and splitter,
// placement saved at close, and the splash hand-over.
#include <QAction>
#include <QMenuBar>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include "core/scan/scanning.h"
#include "core/platform/settings.h"
#include "core/presenter/actions.h"
#include "gui/app/frmMain.h"
#include "gui/ui/frmSplash.h"

using namespace kestrum;

class TestMainWindow : public QObject {
  Q_OBJECT
  QTemporaryDir dir_;
  std::string Conf() const { return dir_.filePath("Kestrum/Kestrum.conf").toStdString(); }

 private slots:
  void commandsAreNamedAndCaptionedAsTheyShouldBe() {
    gui::frmMain w(Conf());
    for (const Menu& m : MenuBar())
      for (const MenuEntry& e : m.Entries) {
        QAction* a = w.Action(e.Name);
        QVERIFY2(a, e.Name);
        if (std::string_view(e.Caption) == "-")
          QVERIFY(a->isSeparator());
        else
          QCOMPARE(a->text(), QString(e.Caption));
      }
    QList<QAction*> tops = w.menuBar()->actions();
    QCOMPARE(tops.size(), 4);
    QCOMPARE(tops[0]->text(), QString("&File"));
    QCOMPARE(tops[1]->text(), QString("&View"));
    QCOMPARE(tops[2]->text(), QString("&Tools"));
    QCOMPARE(tops[3]->text(), QString("&Help"));
    QCOMPARE(w.Action("mnuFileCopyPath")->shortcut(), QKeySequence("Ctrl+C"));
    QStringList order;
    for (QAction* a : w.tbToolbar()->actions())
      if (!a->isSeparator()) order << a->objectName();
    QCOMPARE(order, QStringList({"ScanDisks", "Stop", "CDDrives", "Back", "Files", "Allocated",
                                 "Recycle", "Delete", "Zip"}));
    QCOMPARE(w.Button("Allocated")->toolTip(),
             QString("Show actual allocated space instead of file size"));
    for (const ToolButton& b : ToolbarButtons()) QVERIFY(!w.Button(b.Key)->icon().isNull());
    QVERIFY(w.Action("mnuViewToolbar")->isChecked());
    QVERIFY(!w.Action("mnuViewCD")->isChecked());
    QVERIFY(w.Action("FileMenuProperties"));
    QCOMPARE(w.windowTitle(), QString("Kestrum"));
  }

  void twoStateButtonsAndMenuChecksStayInStep() {
    gui::frmMain w(Conf());
    w.Action("mnuViewAllocated")->trigger();
    QVERIFY(w.Button("Allocated")->isChecked());
    QVERIFY(w.Presenter().Toggles().Allocated);
    w.Button("Allocated")->trigger();
    QVERIFY(!w.Action("mnuViewAllocated")->isChecked());
    w.Button("CDDrives")->trigger();
    QVERIFY(w.Action("mnuViewCD")->isChecked());
    w.Button("Files")->trigger();
    QVERIFY(w.Action("mnuViewShowFiles")->isChecked());
  }

  void loadShowsMyComputerAndLaysOut() {
    gui::frmMain w(Conf());
    w.Form_Load();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    // "Done", then the drives listed by the tree's click on the root.
    const QRegularExpression volumes("^\\d+ disk volumes?$");
    QVERIFY(volumes.match(w.Panel("Status")->text()).hasMatch());
    QVERIFY(!w.Panel("Date")->text().isEmpty());
    const QModelIndex root = w.treeModel()->index(0, 0);
    QCOMPARE(root.data().toString(), QString("My Computer"));
    QVERIFY(w.tvTreeView()->isExpanded(root));
    QCOMPARE(w.tvTreeView()->currentIndex(), root);
    QVERIFY(w.treeModel()->rowCount(root) >= 1);
    QCOMPARE(w.lbPathLabel()->text(), QString("My Computer"));
    // First layout: the tree is 3600 twips wide.
    QCOMPARE(w.LastLayout().Splitter, 3600.0);
    QCOMPARE(w.tvTreeView()->width(), TwipsToPixels(3600, w.Dpi()));
    const int treeTop = w.tvTreeView()->y();
    w.Action("mnuViewToolbar")->trigger();
    QCOMPARE(w.tvTreeView()->y(), 0);
    QVERIFY(!w.tbToolbar()->isVisible());
    w.Action("mnuViewToolbar")->trigger();
    QCOMPARE(w.tvTreeView()->y(), treeTop);
    const int treeHeight = w.tvTreeView()->height();
    w.Action("mnuViewStatusBar")->trigger();
    QVERIFY(w.tvTreeView()->height() > treeHeight);
    w.Action("mnuViewStatusBar")->trigger();
  }

  void splitterDragStopsAtTheLimits() {
    gui::frmMain w(Conf());
    w.Form_Load();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QWidget* sp = w.imgSplitter();
    QTest::mousePress(sp, Qt::LeftButton, {}, QPoint(1, 5));
    QVERIFY(w.picSplitter()->isVisible());
    QCOMPARE(w.picSplitter()->palette().color(QPalette::Window), QColor(128, 128, 128));
    QMouseEvent move(QEvent::MouseMove, QPointF(-2000, 5), sp->mapToGlobal(QPointF(-2000, 5)),
                     Qt::NoButton, Qt::LeftButton, {});
    QApplication::sendEvent(sp, &move);
    QTest::mouseRelease(sp, Qt::LeftButton, {}, QPoint(-2000, 5));
    QVERIFY(!w.picSplitter()->isVisible());
    QVERIFY(std::abs(w.LastLayout().Splitter - 500) < 20);  // 500 twips, to the pixel
    QCOMPARE(w.tvTreeView()->width(), TwipsToPixels(w.LastLayout().Splitter, w.Dpi()));
  }

  void closeSavesPlacementUnlessMinimised() {
    {
      gui::frmMain w(Conf());
      w.Form_Load();
      w.move(150, 120);
      w.resize(700, 500);
      Scanning = true;
      w.Action("mnuFileExit")->trigger();
      QVERIFY(!Scanning);  // closing stops a running scan first
    }
    IniFile s;
    QCOMPARE(s.Load(Conf()), IniFile::LoadResult::Loaded);
    QCOMPARE(QString::fromStdString(*s.Get("Settings", "MainWidth")).toDouble(),
             PixelsToTwips(700, 96));
    QVERIFY(s.Get("Settings", "MainLeft").has_value());
    s.Set("Settings", "MainWidth", "1234");
    QVERIFY(s.Save(Conf()));
    {
      gui::frmMain w(Conf());
      w.Form_Load();
      w.showMinimized();
      // The switches are kept as they change, and again at the close, minimized or not.
      w.Action("mnuViewHardLinks")->trigger();
      IniFile now;
      now.Load(Conf());
      QCOMPARE(*now.Get("Settings", "CountHardLinksOnce"), std::string("0"));
      w.Presenter().MapPane().Shown = true;
      w.close();
    }
    IniFile again;
    again.Load(Conf());
    QCOMPARE(*again.Get("Settings", "MainWidth"), std::string("1234"));
    QCOMPARE(*again.Get("Settings", "CountHardLinksOnce"), std::string("0"));
    QCOMPARE(*again.Get("Settings", "Treemap"), std::string("1"));
  }

  void splashHandsOverOnceAtClickOrTimer() {
    int shown = 0;
    auto* splash = new gui::frmSplash([&] { ++shown; });
    splash->show();
    QCOMPARE(splash->findChild<QLabel*>("lblProductName")->text(), QString("Kestrum"));
    QVERIFY(splash->findChild<QLabel*>("lblVersion")->text().startsWith("Version "));
    QVERIFY(!splash->findChild<QLabel*>("lblCopyright")->text().isEmpty());
    QVERIFY(!splash->findChild<QLabel*>("lblCompany")->text().isEmpty());
    QTest::mouseClick(splash->findChild<QLabel*>("lblVersion"), Qt::LeftButton);
    QCOMPARE(shown, 1);
    QTest::qWait(1200);  // the timer must not hand over a second time
    QCOMPARE(shown, 1);

    int timed = 0;
    auto* second = new gui::frmSplash([&] { ++timed; });
    second->show();
    QTest::qWait(500);
    QCOMPARE(timed, 0);
    QTRY_COMPARE_WITH_TIMEOUT(timed, 1, 2000);
  }

  void sigtermClosesLikeExitAndSavesPlacement() {
    const QString exe = qEnvironmentVariable("KESTRUM_EXE");
    QVERIFY(!exe.isEmpty());
    QTemporaryDir cfg;
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", cfg.path());
    env.insert("QT_QPA_PLATFORM", "offscreen");
    p.setProcessEnvironment(env);
    p.start(exe, {});
    QVERIFY(p.waitForStarted());
    QTest::qWait(2000);  // past the splash, discovery done
    p.terminate();       // SIGTERM
    QVERIFY(p.waitForFinished(10000));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), 0);
    IniFile s;
    QCOMPARE(s.Load((cfg.path() + "/Kestrum/Kestrum.conf").toStdString()),
             IniFile::LoadResult::Loaded);
    for (const char* k : {"MainLeft", "MainTop", "MainWidth", "MainHeight"})
      QVERIFY2(s.Get("Settings", k), k);
    QCOMPARE(*s.Get("Settings", "MainWidth"), std::string("10000"));
  }
};

QTEST_MAIN(TestMainWindow)
#include "test_main_window.moc"
