// The zip command driven through the main window as a user would: a folder scanned with
// "Scan Folder", a file and a folder row picked with the mouse, "&Zip file(s)" given, the zip
// window filled in and run, and the archive read back by Python's zipfile. Then the command
// with no row selected, and while another command holds the slot.
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include "core/commands/status_texts.h"
#include "core/scan/scanning.h"
#include "core/trace/trace.h"
#include "gui/app/frmMain.h"
#include "gui/ui/frmZip.h"

using namespace kestrum;

namespace {

constexpr int kLongWait = 20000;  // ms; a loaded machine may be slow, a hang is not

void Write(const QString& path, const QByteArray& data) {
  QDir().mkpath(QFileInfo(path).path());
  QFile f(path);
  QVERIFY2(f.open(QIODevice::WriteOnly), qPrintable(path));
  f.write(data);
}

// Calls act on every turn of the event loop (every 20 ms) until it returns true. Modal windows
// run their own event loop, so this is how a test acts on one while its exec() has not
// returned. A timer does not fire again while its own call runs, so whatever may open a
// nested modal window (a message box) is answered by a hook of its own.
class Hook : public QObject {
 public:
  explicit Hook(std::function<bool()> act) : act_(std::move(act)) {
    timer_.setInterval(20);
    connect(&timer_, &QTimer::timeout, this, [this] {
      if (act_()) timer_.stop();
    });
    timer_.start();
  }
  bool Done() const { return !timer_.isActive(); }

 private:
  std::function<bool()> act_;
  QTimer timer_;
};

// Records and closes every message box that shows, so that an unexpected one fails the test
// instead of hanging it.
struct MessageBoxes {
  QStringList texts;
  Hook hook{[this] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      texts << box->text();
      box->done(QMessageBox::Ok);
    }
    return false;
  }};
};

// Answers the zip window as a user would: types the target, presses OK, waits for the run to
// end and presses OK again. Any step it cannot take closes the window, so that a failing run
// fails the test, not hangs it.
struct ZipWindowDriver {
  QString target;  // what is typed into the box
  QWidget* owner = nullptr;
  bool seen = false, ownedAndModal = false, sawBusy = false;
  QString initialText, itemStatus;
  int step = 0;
  MessageBoxes boxes;
  Hook hook{[this] { return Tick(); }};

  bool Tick() {
    auto* zip = qobject_cast<gui::frmZip*>(QApplication::activeModalWidget());
    if (!zip) return false;
    if (step == 0) {
      seen = true;
      ownedAndModal = zip->parentWidget() == owner && zip->isModal();
      initialText = zip->TargetFileBox()->text();
      QLineEdit* box = zip->TargetFileBox();
      box->setFocus();
      box->selectAll();
      QTest::keyClicks(box, target);
      QTest::mouseClick(zip->OKButton(), Qt::LeftButton);
      sawBusy = zip->Busy();
      step = 1;
      if (!sawBusy) {  // refused or failed at once: leave
        zip->CloseForOwner();
        return true;
      }
      return false;
    }
    if (zip->Busy()) return false;
    itemStatus = zip->ZipStatusCtrl2()->Text();
    if (itemStatus == "Done")
      QTest::mouseClick(zip->OKButton(), Qt::LeftButton);
    else
      zip->CloseForOwner();
    return true;
  }
};

// Closes any zip window that opens with its CANCEL button, as a user who changed their mind
// would, counting them: for commands that must open none.
struct NoZipWindow {
  int opened = 0;
  MessageBoxes boxes;
  Hook hook{[this] {
    if (auto* zip = qobject_cast<gui::frmZip*>(QApplication::activeModalWidget())) {
      ++opened;
      QTest::mouseClick(zip->CancelButton(), Qt::LeftButton);
    }
    return false;
  }};
};

// The main window over a temporary folder tree:
//   a.txt, q"uote.txt, sub/with space.txt, sub/nested/deep.txt, sub/empty/
struct Fixture {
  QTemporaryDir cfg, tmp;
  QString folder;  // the scanned folder, no trailing "/"
  std::unique_ptr<gui::frmMain> w;

  Fixture() {
    folder = tmp.path() + "/tree";
    Write(folder + "/a.txt", "alpha");
    Write(folder + "/q\"uote.txt", "quoted name");
    Write(folder + "/sub/with space.txt", QByteArray(3000, 's'));
    Write(folder + "/sub/nested/deep.txt", "deep");
    QDir().mkpath(folder + "/sub/empty");
    w = std::make_unique<gui::frmMain>(cfg.filePath("Kestrum/Kestrum.conf").toStdString());
    w->resize(1000, 700);
    w->Form_Load();
  }

  QAbstractItemModel* List() const { return w->lvListView()->model(); }
  QStringList Names() const {
    QStringList out;
    for (int r = 0; r < List()->rowCount(); ++r) out << List()->index(r, 0).data().toString();
    return out;
  }
  QString Status() const { return w->Panel("Status")->text(); }
  void WaitListed() { QTRY_VERIFY_WITH_TIMEOUT(!w->Presenter().ListingPending(), kLongWait); }
  void Click(const QString& name, Qt::MouseButton b = Qt::LeftButton,
             Qt::KeyboardModifiers m = {}) {
    const int row = static_cast<int>(Names().indexOf(name));
    QVERIFY2(row >= 0, qPrintable(name));
    const QModelIndex i = List()->index(row, 0);
    w->lvListView()->scrollTo(i);
    QTest::mouseClick(w->lvListView()->viewport(), b, m, w->lvListView()->visualRect(i).center());
    QCoreApplication::processEvents();  // the click runs after the release
  }

  // "Scan &Folder...", the folder typed into the dialog's name box, then into the scanned entry's
  // root folder with files shown.
  void ScanAndList() {
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    const QString path = folder;
    // The folder is typed into the dialog's name box and Enter pressed; a dialog without the
    // box, or one that keeps refusing, is cancelled, which fails the checks below instead of
    // hanging.
    int tries = 0;
    Hook answer([path, &tries] {
      auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      if (!dialog) return false;
      if (++tries > 50) {
        dialog->reject();
        return true;
      }
      auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
      if (!name) {
        dialog->reject();
        return true;
      }
      name->setText(path);
      QTest::keyClick(name, Qt::Key_Return);
      return false;
    });
    w->Action("mnuScanFolder")->trigger();
    QVERIFY(tries >= 1 && tries <= 50);
    QTRY_VERIFY_WITH_TIMEOUT(!w->Loader()->Busy() && !Scanning, kLongWait);
    // The entry is listed like a drive: its root folder's row first.
    QCOMPARE(w->lbPathLabel()->text(), folder);
    QVERIFY(List()->rowCount() >= 1);
    Click(Names().front());
    WaitListed();
    QCOMPARE(w->lbPathLabel()->text(), folder + "/");
    w->Button("Files")->trigger();
    WaitListed();
    const QStringList names = Names();
    for (const char* n : {"sub", "a.txt", "q\"uote.txt"})
      QVERIFY2(names.contains(n), qPrintable(names.join('|')));
  }

  // The rows the commands will act on, as the list data holds them.
  QStringList Selected() const {
    QStringList out;
    for (const ListRow& row : w->Presenter().List().Rows())
      if (row.Selected) out << QString::fromStdString(row.Text);
    return out;
  }
};

QString TraceLog() {
  QFile log(QCoreApplication::applicationDirPath() + "/" +
            QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName() + ".tra");
  return log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()) : QString();
}

}  // namespace

class TestZipFromList : public QObject {
  Q_OBJECT
 private slots:
  void cleanup() { TraceOn = false; }

  void selectedRowsAreZippedIntoTheListedFolder() {
    TraceOn = true;
    StartTrace();
    Fixture f;
    f.ScanAndList();
    if (QTest::currentTestFailed()) return;

    // A file, then the folder with Ctrl held: two rows selected, nothing entered.
    f.Click("q\"uote.txt");
    f.Click("sub", Qt::LeftButton, Qt::ControlModifier);
    QCOMPARE(f.w->lbPathLabel()->text(), f.folder + "/");
    QCOMPARE(f.w->lvListView()->selectionModel()->selectedRows().size(), 2);
    QCOMPARE(f.Selected(), (QStringList{"q\"uote.txt", "sub"}));

    ZipWindowDriver driver;
    driver.target = "out.zip";
    driver.owner = f.w.get();
    f.w->Action("mnuFileZip")->trigger();  // returns when the modal window has closed
    QVERIFY(driver.hook.Done());
    QVERIFY(driver.seen);
    QVERIFY(driver.ownedAndModal);
    QVERIFY2(driver.boxes.texts.isEmpty(), qPrintable(driver.boxes.texts.join('\n')));
    QVERIFY(driver.sawBusy);
    QCOMPARE(driver.itemStatus, QString("Done"));
    QCOMPARE(driver.initialText, f.folder + "/");  // the target box starts in the listed folder
    QVERIFY(!f.w->ZipWindow());
    QVERIFY(!f.w->Slot().Busy());

    // The archive lies in the listed folder and holds the file and the folder's whole content.
    const QString archive = f.folder + "/out.zip";
    QVERIFY(QFileInfo::exists(archive));
    const QString check = QFINDTESTDATA("../data/zip_check.py");
    QVERIFY(!check.isEmpty());
    QProcess py;
    py.start("python3", {check, archive, f.folder + "/"});
    QVERIFY(py.waitForFinished(kLongWait));
    QVERIFY2(py.exitCode() == 0, py.readAllStandardError().constData());
    QStringList entries;
    for (const QByteArray& line : py.readAllStandardOutput().split('\n'))
      if (!line.isEmpty()) entries << QString::fromUtf8(QByteArray::fromHex(line.split(' ')[0]));
    entries.sort();
    QCOMPARE(entries, QStringList({"q\"uote.txt", "sub/", "sub/empty/", "sub/nested/",
                                   "sub/nested/deep.txt", "sub/with space.txt"}));

    // The list was read again: the new archive shows in the same folder.
    QTRY_VERIFY_WITH_TIMEOUT(f.Names().contains("out.zip"), kLongWait);
    QCOMPARE(f.w->lbPathLabel()->text(), f.folder + "/");

    TraceOn = false;
    const QString log = TraceLog();
    const qsizetype command = log.indexOf(": frmMain.ZipFiles\n");
    const qsizetype ok = log.indexOf(": frmZip.OKButton\n", command);
    const qsizetype files = log.indexOf(": " + QString("  files=") + archive + "\n", ok);
    QVERIFY2(command >= 0 && ok > command && files > ok, qPrintable(log.right(2000)));
  }

  void noSelectionDoesNothingAndABusyCommandRefuses() {
    Fixture f;
    f.ScanAndList();
    if (QTest::currentTestFailed()) return;
    NoZipWindow none;

    // The listing left its first row selected; the user clears it.
    f.w->lvListView()->selectionModel()->clearSelection();
    QVERIFY(f.Selected().isEmpty());
    f.w->SetStatus("before");
    f.w->Action("mnuFileZip")->trigger();
    f.w->Button("Zip")->trigger();
    QCOMPARE(none.opened, 0);
    QCOMPARE(f.Status(), QString("before"));
    QVERIFY(none.boxes.texts.isEmpty());

    // A row selected while another command holds the slot: each way in is refused with the
    // status line and opens no window.
    f.Click("a.txt");
    QCOMPARE(f.Selected(), QStringList{"a.txt"});
    QVERIFY(f.w->Slot().Acquire());
    f.w->SetStatus("before");
    f.w->Action("mnuFileZip")->trigger();
    QCOMPARE(f.Status(), QString(kBusyStatus));
    f.w->SetStatus("before");
    f.w->Button("Zip")->trigger();
    QCOMPARE(f.Status(), QString(kBusyStatus));
    // The list's popup, opened by a right click on the row.
    f.w->SetStatus("before");
    f.Click("a.txt", Qt::RightButton);
    QTRY_VERIFY(f.w->FileMenuPopup()->isVisible());
    f.w->Action("FileMenuZip")->trigger();
    f.w->FileMenuPopup()->close();
    QCOMPARE(f.Status(), QString(kBusyStatus));
    QCOMPARE(none.opened, 0);
    QVERIFY(!f.w->ZipWindow());
    QVERIFY(!QFileInfo::exists(f.folder + "/out.zip"));
    f.w->Slot().Release();

    // Once the slot is free the same row opens the window; cancelled unrun, it zips nothing
    // and gives the slot back.
    f.w->Button("Zip")->trigger();
    QCOMPARE(none.opened, 1);
    QVERIFY(!f.w->ZipWindow());
    QVERIFY(!f.w->Slot().Busy());
    QVERIFY(!f.w->Presenter().ListingPending());  // no relisting after a window that zipped nothing
    QVERIFY(!QFileInfo::exists(f.folder + "/out.zip"));
  }
};

QTEST_MAIN(TestZipFromList)
#include "test_zip_from_list.moc"
