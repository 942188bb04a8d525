// The row menu's Open, Open Terminal Here, Copy Path and the user's own commands driven
// through the window, by menu and by key, against stand-in programs that record the bytes
// they were given: a terminal set as $TERMINAL, a default handler named in mimeapps.list,
// and shell commands run on a file whose name is built to break quoting.
#include <algorithm>
#include <QAction>
#include <QApplication>
#include <QDBusConnection>
#include <QClipboard>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <fstream>

#include "core/adapter/row_tags.h"
#include "core/commands/user_commands.h"
#include "gui/accessibility_audit.h"
#include "gui/app/frmMain.h"
#include "gui/ui/frmCommandOutput.h"
#include "gui/ui/frmCommands.h"
#include "support/test_support.h"

using namespace kestrum;

namespace {

const std::string kOdd = "it's \"odd\" $x `y`\nz.txt";  // one file row
const std::string kRaw = "\xff\xfe raw.txt";             // a name that is not UTF-8
const std::string kSub = "sub 'dir'";                     // a folder row

// Where the stand-ins live and write, made before anything reads the environment.
struct StandIns {
  QTemporaryDir home;
  std::string Home() const { return home.path().toStdString(); }
  std::string TermLog() const { return Home() + "/term.log"; }
  std::string OpenLog() const { return Home() + "/open.log"; }
  std::string CmdLog() const { return Home() + "/cmd.log"; }

  static std::string Script(const std::string& path, const std::string& body) {
    std::ofstream(path) << "#!/bin/sh\n" << body;
    ::chmod(path.c_str(), 0755);
    return path;
  }
  StandIns() {
    const std::string h = Home();
    // Each start appends one record: its folder, then each argument, NUL-ended.
    const std::string record =
        "{ printf 'cwd=%s\\0' \"$PWD\"; for a in \"$@\"; do printf 'arg=%s\\0' \"$a\"; done; "
        "printf 'end\\n'; } >> ";
    Script(h + "/term.sh", record + "'" + TermLog() + "'\n");
    Script(h + "/handler.sh", record + "'" + OpenLog() + "'\n");
    QDir().mkpath(QString::fromStdString(h + "/data/applications"));
    QDir().mkpath(QString::fromStdString(h + "/config"));
    std::ofstream(h + "/data/applications/kestrum-test-recorder.desktop")
        << "[Desktop Entry]\nType=Application\nName=Recorder\nExec=" << h
        << "/handler.sh %f\nMimeType=text/plain;inode/directory;\n";
    std::ofstream(h + "/config/mimeapps.list")
        << "[Default Applications]\ntext/plain=kestrum-test-recorder.desktop\n"
        << "inode/directory=kestrum-test-recorder.desktop\n";
    qputenv("XDG_DATA_HOME", QByteArray::fromStdString(h + "/data"));
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(h + "/config"));
    qputenv("TERMINAL", QByteArray::fromStdString("'" + h + "/term.sh' --from-kestrum"));
    qputenv("KESTRUM_CMD_LOG", QByteArray::fromStdString(CmdLog()));
  }
};
StandIns* gStandIns = nullptr;

// The records a stand-in wrote: each a list of "cwd=..." and "arg=..." fields.
std::vector<std::vector<std::string>> Records(const std::string& log) {
  std::vector<std::vector<std::string>> out(1);
  const std::string text = test::Slurp(log);
  std::size_t at = 0;
  while (at < text.size()) {
    if (text.compare(at, 4, "end\n") == 0) {
      out.emplace_back();
      at += 4;
      continue;
    }
    const std::size_t nul = text.find('\0', at);
    if (nul == std::string::npos) break;
    out.back().push_back(text.substr(at, nul - at));
    at = nul + 1;
  }
  out.pop_back();
  return out;
}

// A stand-in file manager on the session bus: records what ShowItems was given.
class FileManagerStandIn : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")
 public:
  QStringList shown;
 public slots:
  void ShowItems(const QStringList& uris, const QString&) { shown << uris; }
};

// A scanned drive over an odd folder, its root folder listed with three rows.
struct Listed {
  std::string T;
  DiskObject drive, root, sub;
  NodeId nRoot = kNoNode, nSub = kNoNode;

  Listed(gui::frmMain& w, const QString& dir) : T(dir.toStdString() + "/odd 'drive' $HOME") {
    ::mkdir(T.c_str(), 0755);
    std::ofstream(T + "/" + kOdd) << "text";
    std::ofstream(T + "/" + kRaw) << "raw";
    ::mkdir((T + "/" + kSub).c_str(), 0755);
    drive.Class = ObjectClass::Drive;
    drive.SetPath(T);
    drive.DriveForChange().RootFolder = T + "/";
    root.Class = ObjectClass::Folder;
    root.RootDirectory = true;
    root.SetPath(T + "/");
    root.Parent = &drive;
    sub.Class = ObjectClass::Folder;
    sub.Name = kSub;
    sub.Parent = &root;
    CExplorer& ex = w.Presenter().Explorer();
    ex.Init(&w.Presenter().List());
    const NodeId nDrive = ex.AddNode("(" + T + ")", &drive, true);
    nRoot = ex.AddNode(T + "/", &root, true, nDrive);
    nSub = ex.AddNode(kSub, &sub, false, nRoot);
    for (const std::string& name : {kOdd, kRaw}) {
      ListRow file;
      file.Text = name;
      file.Tag = FileTag(4);
      w.Presenter().List().Add(std::move(file));
    }
    ListRow folder;
    folder.Text = kSub;
    folder.Tag = NodeTag(nSub);
    w.Presenter().List().Add(std::move(folder));
    w.Presenter().SetSelectedNode(nRoot);
  }
  // QTemporaryDir cannot name a file that is not UTF-8.
  ~Listed() { ::unlink((T + "/" + kRaw).c_str()); }
  // Selects the 1-based rows, and no others.
  static void Select(gui::frmMain& w, std::initializer_list<std::size_t> rows) {
    ListData& l = w.Presenter().List();
    for (std::size_t i = 1; i <= l.Count(); ++i) l.SetSelected(i, false);
    for (std::size_t r : rows) l.SetSelected(r, true);
  }
};

void Show(gui::frmMain& w) {
  w.resize(900, 500);
  w.show();
  w.activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(&w));
  w.lvListView()->setFocus();
}

}  // namespace

class TestRowTools : public QObject {
  Q_OBJECT
  QTemporaryDir conf_;
  std::string Conf() const { return conf_.filePath("Kestrum/Kestrum.conf").toStdString(); }

 private slots:
  void terminalStartsInTheRowsFolderByMenuAndByKey() {
    QTemporaryDir dir;
    gui::frmMain w(Conf());
    Listed l(w, dir.path());
    Show(w);
    Listed::Select(w, {1, 3});  // a file, and a folder: two folders
    w.Action("FileMenuTerminal")->trigger();
    QTRY_COMPARE(Records(gStandIns->TermLog()).size(), std::size_t(2));
    Listed::Select(w, {2});
    QTest::keyClick(w.lvListView(), Qt::Key_T, Qt::ControlModifier | Qt::ShiftModifier);
    QTRY_COMPARE(Records(gStandIns->TermLog()).size(), std::size_t(3));
    auto records = Records(gStandIns->TermLog());
    const std::string arg = "arg=--from-kestrum";
    // The first two terminals start together: either may write its record first.
    std::sort(records.begin(), records.begin() + 2);
    QCOMPARE(records[0], (std::vector<std::string>{"cwd=" + l.T, arg}));
    QCOMPARE(records[1], (std::vector<std::string>{"cwd=" + l.T + "/" + kSub, arg}));
    QCOMPARE(records[2], (std::vector<std::string>{"cwd=" + l.T, arg}));
  }

  void openHandsTheExactPathToTheDefaultHandler() {
    QTemporaryDir dir;
    gui::frmMain w(Conf());
    Listed l(w, dir.path());
    Show(w);
    Listed::Select(w, {1});
    w.Action("FileMenuOpen")->trigger();
    QTRY_COMPARE(Records(gStandIns->OpenLog()).size(), std::size_t(1));
    QTest::keyClick(w.lvListView(), Qt::Key_Return, Qt::ControlModifier);
    QTRY_COMPARE(Records(gStandIns->OpenLog()).size(), std::size_t(2));
    for (const auto& r : Records(gStandIns->OpenLog())) {
      QCOMPARE(r.size(), std::size_t(2));
      QCOMPARE(r[1], "arg=" + l.T + "/" + kOdd);
    }
  }

  // A folder opens with the folder handler; Show in File Manager asks the file manager on the
  // session bus, and opens the containing folder when none answers.
  void foldersOpenAndItemsAreShownInTheFileManager() {
    QTemporaryDir dir;
    gui::frmMain w(Conf());
    Listed l(w, dir.path());
    Show(w);
    QFile::remove(QString::fromStdString(gStandIns->OpenLog()));
    Listed::Select(w, {3});
    w.Action("mnuFileOpen")->trigger();
    QTRY_COMPARE(Records(gStandIns->OpenLog()).size(), std::size_t(1));
    QCOMPARE(Records(gStandIns->OpenLog())[0][1], "arg=" + l.T + "/" + kSub);

    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) QSKIP("no session bus: run under dbus-run-session");
    Listed::Select(w, {1, 2});
    w.Action("FileMenuShowInFolder")->trigger();  // nobody answers: the folder opens
    QTRY_COMPARE(Records(gStandIns->OpenLog()).size(), std::size_t(2));
    QCOMPARE(Records(gStandIns->OpenLog())[1][1], "arg=" + l.T);
    FileManagerStandIn fm;
    QVERIFY(bus.registerObject("/org/freedesktop/FileManager1", &fm, QDBusConnection::ExportAllSlots));
    QVERIFY(bus.registerService("org.freedesktop.FileManager1"));
    QTest::keyClick(w.lvListView(), Qt::Key_M, Qt::ControlModifier | Qt::ShiftModifier);
    QTRY_COMPARE(fm.shown.size(), 2);
    QCOMPARE(QByteArray::fromPercentEncoding(fm.shown[0].toLatin1()).toStdString(),
             "file://" + l.T + "/" + kOdd);
    QCOMPARE(QByteArray::fromPercentEncoding(fm.shown[1].toLatin1()).toStdString(),
             "file://" + l.T + "/" + kRaw);
    bus.unregisterService("org.freedesktop.FileManager1");
    bus.unregisterObject("/org/freedesktop/FileManager1");
    QTest::qWait(100);
    QCOMPARE(Records(gStandIns->OpenLog()).size(), std::size_t(2));  // no fallback meanwhile
  }

  void copyPathKeepsExactBytes() {
    QTemporaryDir dir;
    gui::frmMain w(Conf());
    Listed l(w, dir.path());
    Show(w);
    Listed::Select(w, {1, 3});
    w.Action("FileMenuCopyPath")->trigger();
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    QVERIFY(data);
    QCOMPARE(data->text().toStdString(), l.T + "/" + kOdd + "\n" + l.T + "/" + kSub);
    QVERIFY(!data->hasFormat("text/uri-list"));
    Listed::Select(w, {2});
    QTest::keyClick(w.lvListView(), Qt::Key_C, Qt::ControlModifier);
    data = QGuiApplication::clipboard()->mimeData();
    QCOMPARE(data->data("text/plain").toStdString(), l.T + "/" + kRaw);
    const QByteArray uris = data->data("text/uri-list");
    QVERIFY(uris.startsWith("file:///") && uris.endsWith("\r\n"));
    QCOMPARE(QByteArray::fromPercentEncoding(uris.mid(7).chopped(2)).toStdString(),
             l.T + "/" + kRaw);
  }

  void userCommandsRunWithHostileNamesAndReportTheirStatus() {
    {
      IniFile s;
      WriteUserCommands(
          s, {{"Record", "printf '%s\\0' {path} {name} {folder} \"$PWD\" >> \"$KESTRUM_CMD_LOG\"",
               AppliesTo::Both, false, false, true},
              {"Fail & tell", "echo oops; exit 3", AppliesTo::Files, false, false, true},
              {"Hidden", "touch never", AppliesTo::Both, false, false, false}});
      QVERIFY(s.Save(Conf()));
    }
    QTemporaryDir dir;
    gui::frmMain w(Conf());
    Listed l(w, dir.path());
    Show(w);
    // The enabled commands are in the row menu and the Tools menu, the disabled one is not.
    QVERIFY(w.Action("FileMenuUser0") && w.Action("FileMenuUser1") && w.Action("mnuToolsUser1"));
    QVERIFY(!w.Action("FileMenuUser2"));
    QCOMPARE(w.Action("mnuToolsUser1")->text(), QString("Fail && tell"));
    QCOMPARE(w.Action("FileMenuCopyPath")->shortcut(), QKeySequence("Ctrl+C"));  // shown only
    if (const char* shot = std::getenv("KESTRUM_MENU_SHOT")) {
      w.FileMenuPopup()->popup(w.mapToGlobal(QPoint(40, 40)));
      QTest::qWait(200);
      w.FileMenuPopup()->grab().save(shot);
      w.FileMenuPopup()->close();
    }
    Listed::Select(w, {1, 3});
    w.Action("FileMenuUser0")->trigger();
    gui::frmCommandOutput* out = w.LastOutputWindow();
    QVERIFY(out);
    QTRY_VERIFY(!out->Running());
    QVERIFY(!w.Slot().Busy());
    const std::string nul(1, '\0');
    const std::string file = l.T + "/" + kOdd, folder = l.T + "/" + kSub;
    QCOMPARE(test::Slurp(gStandIns->CmdLog()),
             file + nul + kOdd + nul + l.T + nul + l.T + nul + folder + nul + kSub + nul + l.T +
                 nul + l.T + nul);
    QCOMPARE(out->StatusLabel()->text(), QString("Record: finished, exit status 0 for all 2 runs"));
    QVERIFY(!out->StopButton()->isEnabled());
    QVERIFY_READABLE(out);

    // By its key: a failure is reported with its status and output, never as success.
    out->close();  // it holds the focus while it is open
    QTRY_VERIFY(!w.LastOutputWindow());
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QTest::keyClick(w.lvListView(), Qt::Key_2, Qt::ControlModifier);
    out = w.LastOutputWindow();
    QVERIFY(out);
    QTRY_VERIFY(!out->Running());
    QCOMPARE(out->StatusLabel()->text(), QString("Fail & tell: FAILED, exit status 3"));
    QVERIFY(out->OutputBox()->toPlainText().contains("oops\n[exit status 3]"));
    QCOMPARE(w.Presenter().Status(), std::string("Fail & tell: exit status 3"));
    if (const char* shot = std::getenv("KESTRUM_OUTPUT_SHOT")) out->grab().save(shot);
    out->close();
    QTRY_VERIFY(!w.LastOutputWindow());

    // While a command holds the slot, a user command is refused.
    QVERIFY(w.Slot().Acquire());
    w.Action("mnuToolsUser0")->trigger();
    QVERIFY(!w.LastOutputWindow());
    w.Slot().Release();
  }

  void stopEndsARunningCommand() {
    {
      IniFile s;
      WriteUserCommands(s, {{"Wait", "echo started; sleep 60", AppliesTo::Both, false, false, true}});
      QVERIFY(s.Save(Conf()));
    }
    QTemporaryDir dir;
    gui::frmMain w(Conf());
    Listed l(w, dir.path());
    Listed::Select(w, {1});
    w.Action("FileMenuUser0")->trigger();
    gui::frmCommandOutput* out = w.LastOutputWindow();
    QVERIFY(out);
    QTRY_VERIFY(out->OutputBox()->toPlainText().contains("started"));
    QVERIFY(w.Slot().Busy());
    out->StopButton()->click();
    QTRY_VERIFY(!out->Running());
    QCOMPARE(out->StatusLabel()->text(), QString("Wait: FAILED, stopped"));
    // Closing the window while the command runs stops it too.
    out->close();
    w.Action("mnuToolsUser0")->trigger();
    out = w.LastOutputWindow();
    QVERIFY(out);
    QTRY_VERIFY(out->OutputBox()->toPlainText().contains("started"));
    out->close();
    QTRY_VERIFY(!w.Slot().Busy());
    QCOMPARE(w.Presenter().Status(), std::string("Wait: stopped"));
  }

  void theDialogKeepsTheCommands() {
    QFile::remove(QString::fromStdString(Conf()));
    QTemporaryDir dir;
    gui::frmMain w(Conf());
    Listed l(w, dir.path());
    QVERIFY(!w.Action("FileMenuUser0"));  // the examples are offered disabled
    QStringList faults;
    QTimer::singleShot(50, [&] {
      auto* d = qobject_cast<gui::frmCommands*>(QApplication::activeModalWidget());
      QVERIFY(d);
      QCOMPARE(d->List()->count(), 3);
      QVERIFY(d->List()->item(0)->text().endsWith("(disabled)"));
      faults = test::AccessibilityFaults(d);
      d->AddButton()->click();
      QString said;
      d->ShowMessage = [&said](const QString& t) { said = t; };
      d->LineBox()->selectAll();
      QTest::keyClick(d->LineBox(), Qt::Key_Delete);
      QTest::keyClicks(d->TitleBox(), "X");  // over the selected "New command"
      d->Buttons()->button(QDialogButtonBox::Ok)->click();  // refused: no command line
      QVERIFY(said.contains("needs a command line"));
      QTest::keyClicks(d->LineBox(), "ls {path}");
      d->EnabledBox()->setChecked(true);
      d->AppliesBox()->setCurrentIndex(1);
      if (const char* shot = std::getenv("KESTRUM_COMMANDS_SHOT")) d->grab().save(shot);
      d->Buttons()->button(QDialogButtonBox::Ok)->click();
    });
    w.Action("mnuToolsCommands")->trigger();
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));
    QVERIFY(w.Action("FileMenuUser3"));
    QCOMPARE(w.Action("mnuToolsUser3")->shortcut(), QKeySequence("Ctrl+1"));
    IniFile s;
    QCOMPARE(s.Load(Conf()), IniFile::LoadResult::Loaded);
    const auto kept = ReadUserCommands(s);
    QCOMPARE(kept.size(), std::size_t(4));
    QCOMPARE(kept[3].Title, std::string("X"));
    QCOMPARE(kept[3].CommandLine, std::string("ls {path}"));
    QCOMPARE(kept[3].Applies, AppliesTo::Folders);
  }
};

int main(int argc, char** argv) {
  StandIns standIns;  // before GLib or Qt read the environment
  gStandIns = &standIns;
  QApplication app(argc, argv);
  TestRowTools t;
  return QTest::qExec(&t, argc, argv);
}
#include "test_row_tools.moc"
