// The "Zip Files" window driven offscreen as a user would: the target checks, a run to "Done",
// cancelling while idle and while busy, and every way of closing it during a run.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <chrono>
#include <thread>

#include "core/trace/trace.h"
#include "gui/accessibility_audit.h"
#include "gui/ui/frmZip.h"

using namespace kestrum;

namespace {

// Reads wait here until a test lets them go, so that a run is surely still going when the
// test acts on it.
std::atomic<bool> gReadsHeld{false};

ssize_t HeldRead(int fd, void* buffer, size_t size) {
  while (gReadsHeld.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return ::read(fd, buffer, size);
}

struct Fixture {
  QTemporaryDir tmp;
  std::string base;  // the listed folder, "/"-ended
  std::unique_ptr<gui::frmZip> w;
  QStringList messages;
  QList<bool> critical;

  Fixture() {
    base = tmp.path().toStdString() + "/data/";
    QDir().mkpath(tmp.path() + "/data/Old/sub");
    Write("data/a.txt", "alpha");
    Write("data/Old/sub/b.txt", QByteArray(200000, 'b'));
    ZipRequest r;
    r.ZipPath = base;
    r.BaseFolder = base;
    r.ZipFileList = " \"" + base + "a.txt\" \"" + base + "Old/*.*\"";
    r.Items = {{base, "a.txt", "a.txt", base, false}, {base, "Old", "Old", base, true}};
    w = std::make_unique<gui::frmZip>(r, nullptr);
    w->ShowMessage = [this](const QString& text, bool isCritical) {
      messages << text;
      critical << isCritical;
    };
    w->show();
  }
  void Write(const QString& rel, const QByteArray& data) {
    QFile f(tmp.path() + "/" + rel);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(data);
  }
  QStringList Files() const { return QDir(tmp.path()).entryList(QDir::Files); }
  void StartHeld(const QString& target) {
    gReadsHeld = true;
    w->Calls.Read = HeldRead;
    w->TargetFileBox()->setText(target);
    QTest::mouseClick(w->OKButton(), Qt::LeftButton);
    QVERIFY(w->Busy());
  }
};

}  // namespace

class TestZipWindow : public QObject {
  Q_OBJECT
 private slots:
  void cleanup() { gReadsHeld = false; }

  void controlsCarryTheirTextsAndNames() {
    Fixture f;
    QCOMPARE(f.w->windowTitle(), QString("Zip Files"));
    QCOMPARE(f.w->TargetFileBox()->toolTip(), QString("Target Zip file name"));
    QCOMPARE(f.w->OKButton()->text(), QString("OK"));
    QCOMPARE(f.w->OKButton()->toolTip(), QString("Zip seleced files to target"));
    QCOMPARE(f.w->CancelButton()->text(), QString("CANCEL"));
    QCOMPARE(f.w->CancelButton()->toolTip(), QString("Cancel Zip operation"));
    QCOMPARE(f.w->TargeBrowseButton()->text(), QString("***"));
    QCOMPARE(f.w->TargeBrowseButton()->toolTip(), QString("Select target zip file or directory"));
    QCOMPARE(f.w->Label1()->text(), QString("Target Zip File Name:"));
    QCOMPARE(f.w->Label2()->text(),
             QString("Select or type Target Zip File name above then click OK to zip selected "
                     "files. Click CANCEL to stop zip operation. When done, click OK to close "
                     "window."));
    for (QWidget* c : f.w->findChildren<QWidget*>()) {
      if (c->isVisible() && (qobject_cast<QPushButton*>(c) || qobject_cast<QLineEdit*>(c) ||
                             qobject_cast<QProgressBar*>(c)))
        QVERIFY2(!c->accessibleName().isEmpty(), qPrintable(c->objectName()));
    }
    QCOMPARE(f.w->TargetFileBox()->text(), QString::fromStdString(f.base));
    Shot(f, "zip-idle.png");
  }

  void refusedTargetsZipNothing() {
    Fixture f;
    // The initial target is the listed folder itself.
    QTest::mouseClick(f.w->OKButton(), Qt::LeftButton);
    f.w->TargetFileBox()->setText("");
    QTest::mouseClick(f.w->OKButton(), Qt::LeftButton);
    f.w->TargetFileBox()->setText("Old");  // an existing folder, relative to the listed one
    QTest::mouseClick(f.w->OKButton(), Qt::LeftButton);
    QCOMPARE(f.messages, QStringList(3, "Target zip file name incorrect"));
    QCOMPARE(f.critical, QList<bool>(3, true));
    QVERIFY(!f.w->FilesZipped());
    QVERIFY(f.w->isVisible());
    QCOMPARE(f.Files(), QStringList());
  }

  void aRunEndsWithDoneAndOkCloses() {
    Fixture f;
    f.w->TargetFileBox()->setText(QString::fromStdString(f.base) + "../out.zip");
    QTest::mouseClick(f.w->OKButton(), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!f.w->Busy(), 10000);
    QVERIFY(f.w->FilesZipped());
    QCOMPARE(f.w->ZipStatusCtrl2()->Text(), QString("Done"));
    QCOMPARE(f.w->ZipStatusCtrl1()->Percent(), 100);
    // Heard whole, however the labels cut the texts on the screen.
    QCOMPARE(QAccessible::queryAccessibleInterface(f.w->ZipStatusCtrl2()->Label())
                 ->text(QAccessible::Name),
             QString("Done"));
    QVERIFY_READABLE(f.w.get());
    QVERIFY(f.messages.isEmpty());
    QCOMPARE(f.Files(), QStringList{"out.zip"});
    Shot(f, "zip-done.png");
    QTest::mouseClick(f.w->OKButton(), Qt::LeftButton);
    QVERIFY(!f.w->isVisible());
    QCOMPARE(f.w->result(), int(QDialog::Accepted));
  }

  void okIsTraced() {
    TraceOn = true;
    StartTrace();
    Fixture f;
    const std::string target = f.base + "t.zip";
    f.w->TargetFileBox()->setText(QString::fromStdString(target));
    QTest::mouseClick(f.w->OKButton(), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!f.w->Busy(), 10000);
    TraceOn = false;
    QFile log(QCoreApplication::applicationDirPath() + "/" +
              QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName() + ".tra");
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QByteArray text = log.readAll();
    const qsizetype ok = text.indexOf(": frmZip.OKButton\n");
    QVERIFY(ok >= 0);
    QVERIFY(text.indexOf(QByteArray(": ") + "  files=" + QByteArray::fromStdString(target) + "\n",
                         ok) > ok);
  }

  void aRelativeTargetLandsInTheListedFolderAndFailuresAreShown() {
    Fixture f;
    f.Write("data/bad.zip", "not an archive");
    f.w->TargetFileBox()->setText("bad.zip");
    QTest::mouseClick(f.w->OKButton(), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!f.w->Busy(), 10000);
    QCOMPARE(f.messages.size(), 1);
    QVERIFY(f.messages[0].contains("Not a zip archive"));
    QVERIFY(f.messages[0].contains(QString::fromStdString(f.base) + "bad.zip"));
    QVERIFY(f.critical[0]);
    QVERIFY(f.w->ZipStatusCtrl2()->Text() != "Done");
  }

  void cancelWhileIdleCloses() {
    Fixture f;
    QTest::mouseClick(f.w->CancelButton(), Qt::LeftButton);
    QVERIFY(!f.w->isVisible());
    QVERIFY(!f.w->FilesZipped());
  }

  void cancelWhileBusyStopsAndLeavesNothing() {
    Fixture f;
    f.StartHeld("new.zip");
    QTest::mouseClick(f.w->CancelButton(), Qt::LeftButton);
    QVERIFY(f.w->isVisible());  // the cancel takes effect through the run
    gReadsHeld = false;
    QTRY_VERIFY_WITH_TIMEOUT(!f.w->isVisible(), 10000);
    QVERIFY(f.w->FilesZipped());
    QVERIFY(f.w->ZipStatusCtrl2()->Text() != "Done");
    QCOMPARE(QDir(tmp(f)).entryList(QDir::Files), QStringList{"a.txt"});
  }

  void everyCloseDuringARunCancelsAndWaits() {
    for (int way = 0; way < 3; ++way) {
      Fixture f;
      f.Write("data/keep.zip", "");
      f.StartHeld("keep.zip");
      // The held reads are let go from another thread once the close has asked the run to
      // stop, while the window waits for its worker.
      const ZipRunner* runner = &f.w->Runner();
      std::thread release([runner] {
        while (!runner->CancelRequested())
          std::this_thread::sleep_for(std::chrono::milliseconds(1));
        gReadsHeld = false;
      });
      if (way == 0) f.w->close();
      if (way == 1) QTest::keyClick(f.w.get(), Qt::Key_Escape);
      if (way == 2) f.w->CloseForOwner();
      release.join();
      QVERIFY(!f.w->isVisible());
      QVERIFY(!f.w->Busy());
      QVERIFY(f.w->Runner().Finished());
      QCOMPARE(f.w->Runner().Outcome().Code, std::uint16_t(kZipCancelled));
      // The earlier (empty) file is as it was, and no temporary file is left.
      QCOMPARE(QDir(tmp(f)).entryList(QDir::Files), (QStringList{"a.txt", "keep.zip"}));
      QCOMPARE(QFileInfo(tmp(f) + "/keep.zip").size(), 0);
    }
  }

  void browseAndF12() {
    Fixture f;
    QString askedIn;
    f.w->AskTarget = [&](const QString& start) {
      askedIn = start;
      return QString("/chosen/archive.zip");
    };
    QTest::mouseClick(f.w->TargeBrowseButton(), Qt::LeftButton);
    QCOMPARE(askedIn, QString::fromStdString(f.base));
    QCOMPARE(f.w->TargetFileBox()->text(), QString("/chosen/archive.zip"));
    f.w->AskTarget = [](const QString&) { return QString(); };  // the dialog cancelled
    QTest::mouseClick(f.w->TargeBrowseButton(), Qt::LeftButton);
    QCOMPARE(f.w->TargetFileBox()->text(), QString("/chosen/archive.zip"));
    int f12 = 0;
    f.w->OnF12 = [&] { ++f12; };
    QTest::keyClick(f.w.get(), Qt::Key_F12);
    QCOMPARE(f12, 1);
    QVERIFY(f.w->isVisible());
  }

 private:
  // KESTRUM_SHOTS=folder saves what the window looks like, for a person to check.
  static void Shot(Fixture& f, const char* name) {
    const QString folder = qEnvironmentVariable("KESTRUM_SHOTS");
    if (folder.isEmpty()) return;
    QTest::qWait(50);
    f.w->grab().save(folder + "/" + name);
  }
  static QString tmp(Fixture& f) { return f.tmp.path() + "/data"; }
};

QTEST_MAIN(TestZipWindow)
#include "test_zip_window.moc"
