// The programs started as a user starts them: --help and --version without a window, folder
// arguments that hold "trace" in their names, the trace word itself, paths that cannot be
// scanned, and the headless program's help and mistakes. A copy of the executable in a folder of
// its own keeps its trace log apart from the other tests'.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

class TestCommandLine : public QObject {
  Q_OBJECT
  QTemporaryDir dir_;
  QString exe_;

  // Starts the copy with args, waits until its standard error holds until (the window has
  // handled its arguments by then), stops it as SIGTERM does, and returns what it wrote
  // there followed by its exit status.
  QString RunWindow(const QStringList& args, const QString& until) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", dir_.filePath("config"));
    env.insert("XDG_STATE_HOME", dir_.filePath("state"));
    env.insert("XDG_CACHE_HOME", dir_.filePath("cache"));
    env.insert("QT_QPA_PLATFORM", "offscreen");
    p.setProcessEnvironment(env);
    p.start(exe_, args);
    if (!p.waitForStarted()) return "not started";
    p.setReadChannel(QProcess::StandardError);
    QString err;
    while (!err.contains(until) && p.waitForReadyRead(60000))
      err += QString::fromUtf8(p.readAllStandardError());
    p.terminate();
    if (!p.waitForFinished(15000)) return "did not end";
    return err + QString::fromUtf8(p.readAllStandardError()) + QString("exit %1").arg(p.exitCode());
  }
  QString Log() const { return dir_.filePath("bin/kestrum.tra"); }

 private slots:
  void initTestCase() {
    const QString built = qEnvironmentVariable("KESTRUM_EXE");
    QVERIFY(!built.isEmpty());
    QVERIFY(QDir(dir_.path()).mkpath("bin"));
    exe_ = dir_.filePath("bin/kestrum");
    QVERIFY(QFile::copy(built, exe_));
  }

  void helpAndVersionNeedNoWindow() {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.remove("QT_QPA_PLATFORM");
    p.setProcessEnvironment(env);
    p.start(exe_, {"--help"});
    QVERIFY(p.waitForFinished(10000));
    QCOMPARE(p.exitCode(), 0);
    const QString usage = QString::fromUtf8(p.readAllStandardOutput());
    QVERIFY(usage.startsWith("Usage: kestrum [OPTION]... [FOLDER]..."));
    QVERIFY(usage.contains("--version"));
    p.start(exe_, {"-V"});
    QVERIFY(p.waitForFinished(10000));
    QCOMPARE(p.exitCode(), 0);
    QVERIFY(QString::fromUtf8(p.readAllStandardOutput()).startsWith("Kestrum 0.1.0\n"));
  }

  // Both programs, as installed beside each other: their own usage, and a mistake in a
  // headless line is one line on standard error with nothing on standard output.
  void bothProgramsHelpAndRefuseABadOption() {
    const QString report =
        QFileInfo(qEnvironmentVariable("KESTRUM_EXE")).dir().filePath("kestrum-report");
    const struct {
      QString Exe;
      QStringList Args;
      int Status;
      QString Out;
      QString Err;
    } runs[] = {
        {report, {"--help"}, 0, "Usage: kestrum-report [OPTION]... [--report] FOLDER\n", ""},
        {exe_,
         {"--report", dir_.path(), "--bogus"},
         2,
         "",
         "kestrum: unknown option --bogus (--help lists the options)\n"},
    };
    for (const auto& run : runs) {
      QProcess p;
      p.start(run.Exe, run.Args);
      QVERIFY(p.waitForFinished(10000));
      QCOMPARE(p.exitCode(), run.Status);
      const QString out = QString::fromUtf8(p.readAllStandardOutput());
      QVERIFY2(run.Out.isEmpty() ? out.isEmpty() : out.startsWith(run.Out), qPrintable(out));
      QCOMPARE(QString::fromUtf8(p.readAllStandardError()), run.Err);
    }
  }

  void aFolderNamedLikeTheWordIsScannedNotTraced() {
    QVERIFY(QDir(dir_.path()).mkpath("my stacktraces/sub"));
    QFile::remove(Log());
    const QString err =
        RunWindow({dir_.filePath("my stacktraces"), dir_.filePath("gone")}, "Cannot scan");
    QVERIFY2(err.endsWith("exit 0"), qPrintable(err));
    QVERIFY(!QFile::exists(Log()));
  }

  void theWordStillTracesAndBadPathsGetTheirMessage() {
    QFile::remove(Log());
    const QString err = RunWindow({"/TRACE", dir_.filePath("missing"), "--bogus"}, "Cannot scan");
    QVERIFY2(err.endsWith("exit 0"), qPrintable(err));
    QVERIFY(QFile::exists(Log()));
    QVERIFY2(
        err.contains("Cannot scan \"" + dir_.filePath("missing") + "\": there is no such folder."),
        qPrintable(err));
    QVERIFY2(err.contains("Unknown option: --bogus"), qPrintable(err));
  }
};

QTEST_MAIN(TestCommandLine)
#include "test_command_line.moc"
