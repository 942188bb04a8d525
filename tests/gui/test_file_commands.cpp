// Delete, trash and properties driven through the window: the confirmation answered both
// ways, the refusal while a command is busy, and Kestrum's own properties window.
#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <fstream>

#include "core/adapter/row_tags.h"
#include "core/commands/delete_files.h"
#include "gui/accessibility_audit.h"
#include "gui/app/frmMain.h"
#include "gui/app/properties_sheet.h"

using namespace kestrum;

namespace {

bool Exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

// A scanned drive over a temporary folder with "a.txt" and "sub/x.txt", shown in the
// window's tree, with its root folder listed: one file row and one folder row.
struct Listed {
  std::string T;
  DiskObject drive, root, sub;
  NodeId nRoot = kNoNode, nSub = kNoNode;

  Listed(gui::frmMain& w, const QString& dir) : T(dir.toStdString()) {
    std::ofstream(T + "/a.txt") << "aaaa";
    ::mkdir((T + "/sub").c_str(), 0755);
    std::ofstream(T + "/sub/x.txt") << "x";
    drive.Class = ObjectClass::Drive;
    drive.SetPath(T);
    drive.DriveForChange().RootFolder = T + "/";
    root.Class = ObjectClass::Folder;
    root.RootDirectory = true;
    root.SetPath(T + "/");
    root.Parent = &drive;
    sub.Class = ObjectClass::Folder;
    sub.Name = "sub";
    sub.Parent = &root;
    sub.UsedSpace = 1;
    CExplorer& ex = w.Presenter().Explorer();
    ex.Init(&w.Presenter().List());
    const NodeId nDrive = ex.AddNode("(" + T + ")", &drive, true);
    nRoot = ex.AddNode(T + "/", &root, true, nDrive);
    nSub = ex.AddNode("sub", &sub, false, nRoot);
    ListRow file;
    file.Text = "a.txt";
    file.Tag = FileTag(4);
    file.Selected = true;
    w.Presenter().List().Add(std::move(file));
    ListRow folder;
    folder.Text = "sub";
    folder.Tag = NodeTag(nSub);
    folder.Selected = true;
    w.Presenter().List().Add(std::move(folder));
    w.Presenter().SetSelectedNode(nRoot);
  }
};

// Answers the next message box with button once it is shown, recording what it said.
struct BoxAnswer {
  QString text, title, details;
  QStringList faults;  // what a screen reader would miss in the box
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  bool seen = false;
  void Arm(QMessageBox::StandardButton button) {
    QTimer::singleShot(50, [this, button] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box) return Arm(button);
      seen = true;
      text = box->text();
      title = box->windowTitle();
      details = box->detailedText();
      icon = box->icon();
      faults = kestrum::test::AccessibilityFaults(box);
      if (const char* shot = std::getenv("KESTRUM_CONFIRM_SHOT")) {
        for (QAbstractButton* b : box->buttons())
          if (box->buttonRole(b) == QMessageBox::ActionRole) b->click();  // show details
        box->grab().save(shot);
      }
      box->button(button)->click();
    });
  }
};

}  // namespace

class TestFileCommands : public QObject {
  Q_OBJECT
  QTemporaryDir conf_;
  std::string Conf() const { return conf_.filePath("Kestrum/Kestrum.conf").toStdString(); }

 private slots:
  void confirmationCancelledChangesNothing() {
    QTemporaryDir dir;
    gui::frmMain w(Conf());
    Listed l(w, dir.path());
    BoxAnswer answer;
    answer.Arm(QMessageBox::Cancel);
    w.Action("mnuFileDelete")->trigger();
    QVERIFY(answer.seen);
    QCOMPARE(answer.text, QString("Are you sure you want to Delete the selected objects?"));
    QCOMPARE(answer.title, QString("Kestrum"));
    QCOMPARE(answer.icon, QMessageBox::Warning);
    QVERIFY2(answer.faults.isEmpty(), qPrintable(answer.faults.join('\n')));
    QVERIFY(answer.details.startsWith("2 objects will be deleted:\n"));
    QVERIFY(answer.details.contains(QString::fromStdString(l.T + "/a.txt")));
    QVERIFY(answer.details.contains(QString::fromStdString(l.T + "/sub/")));
    QTest::qWait(50);
    QVERIFY(!w.Slot().Busy());
    QVERIFY(Exists(l.T + "/a.txt"));
    QVERIFY(Exists(l.T + "/sub/x.txt"));
    QVERIFY(w.Presenter().Explorer().Exists(l.nSub));
  }

  // Both rows go (the relisting reads the files on a worker), or the file alone (the folder
  // row is listed at once): either way the status line ends with the listing's counts.
  void confirmationAcceptedDeletesOnTheWorkerAndRelists_data() {
    QTest::addColumn<bool>("withFolder");
    QTest::newRow("file and folder") << true;
    QTest::newRow("file only") << false;
  }
  void confirmationAcceptedDeletesOnTheWorkerAndRelists() {
    QFETCH(bool, withFolder);
    QTemporaryDir dir;
    gui::frmMain w(Conf());
    Listed l(w, dir.path());
    if (!withFolder) w.Presenter().List().Item(2)->Selected = false;
    const std::uint64_t listings = w.Presenter().Listing().Generation;
    BoxAnswer answer;
    answer.Arm(QMessageBox::Ok);
    w.Button("Delete")->trigger();
    QVERIFY(answer.seen);
    QTRY_VERIFY(!w.Slot().Busy());
    QVERIFY(!Exists(l.T + "/a.txt"));
    QCOMPARE(Exists(l.T + "/sub"), !withFolder);
    QCOMPARE(w.Presenter().Explorer().Exists(l.nSub), !withFolder);
    QCOMPARE(w.Presenter().Listing().Generation, listings + 1);  // relisted once
    QTRY_VERIFY(!w.Presenter().ListingPending());
    // Nothing is left to list, or the folder alone.
    QCOMPARE(w.Presenter().List().Count(), std::size_t(withFolder ? 0 : 1));
    QTest::qWait(100);
    QCOMPARE(w.Presenter().Status(), std::string("0 folders, 0 files for 0 b"));
  }

  void popupEntriesAreRefusedWhileACommandIsBusy() {
    QTemporaryDir dir;
    gui::frmMain w(Conf());
    Listed l(w, dir.path());
    QVERIFY(w.Slot().Acquire());  // a scan or zip is running
    BoxAnswer answer;
    answer.Arm(QMessageBox::Ok);
    w.Action("FileMenuDelete")->trigger();
    w.Action("FileMenuRecycle")->trigger();
    QTest::qWait(200);
    QVERIFY(!answer.seen);
    QCOMPARE(w.Presenter().Status(),
             std::string("A command is running: wait for it to end or press Stop."));
    QVERIFY(Exists(l.T + "/a.txt"));
    w.Slot().Release();
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) box->reject();
  }

  void ownPropertiesWindowWhenNoFileManagerAnswers() {
    QTemporaryDir dir;
    gui::frmMain w(Conf());
    Listed l(w, dir.path());
    w.resize(800, 500);
    w.show();
    w.Sheets()->UseSessionBus = false;
    // No current row: nothing happens.
    w.Action("mnuFileProp")->trigger();
    QVERIFY(!w.Sheets()->LastPropertiesWindow);
    w.lvListView()->setCurrentIndex(w.lvListView()->model()->index(1, 0));
    w.Action("FileMenuProperties")->trigger();
    QWidget* f = w.Sheets()->LastPropertiesWindow;
    QVERIFY(f);
    QVERIFY(f->isVisible());
    QVERIFY(!f->isModal());
    QCOMPARE(f->findChild<QLabel*>("lblHeading")->text(), QString("sub"));
    QCOMPARE(f->findChild<QLineEdit*>("valType")->text(), QString("Folder"));
    QCOMPARE(f->findChild<QLabel*>("valScannedsize")->text(), QString("1 b (1 byte)"));
    QCOMPARE(f->findChild<QLineEdit*>("valFolder")->text(), QString::fromStdString(l.T + "/"));
    QCOMPARE(QAccessible::queryAccessibleInterface(f->findChild<QLabel*>("valScannedsize"))
                 ->text(QAccessible::Name),
             QString("Scanned size: 1 b (1 byte)"));
    QVERIFY_READABLE(f);
    if (const char* shot = std::getenv("KESTRUM_SHOT")) f->grab().save(shot);
    QTest::keyClick(f, Qt::Key_Escape);
    QTRY_VERIFY(!w.Sheets()->LastPropertiesWindow);  // closed and freed
  }
};

QTEST_MAIN(TestFileCommands)
#include "test_file_commands.moc"
