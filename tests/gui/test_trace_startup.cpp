// "kestrum trace" started offscreen and stopped by SIGTERM after discovery leaves a trace
// log beside the executable: the header, then prefixed lines for discovery; on a machine
// without an organization it reaches the main window without a box.
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>

class TestTraceStartup : public QObject {
  Q_OBJECT
 private slots:
  void traceLogHoldsHeaderAndDiscovery() {
    const QString exe = qEnvironmentVariable("KESTRUM_EXE");
    QVERIFY(!exe.isEmpty());
    const QFileInfo info(exe);
    const QString log = info.absolutePath() + "/" + info.completeBaseName() + ".tra";
    QFile::remove(log);
    QTemporaryDir cfg;
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", cfg.path());
    // A bare machine: no organization anywhere, so nothing may stop the start with a box.
    env.insert("XDG_CONFIG_DIRS", cfg.path());
    env.remove("ORGANIZATION");
    env.insert("QT_QPA_PLATFORM", "offscreen");
    p.setProcessEnvironment(env);
    p.start(exe, {"trace"});
    QVERIFY(p.waitForStarted());
    QTest::qWait(2000);
    p.terminate();
    QVERIFY(p.waitForFinished(10000));
    QCOMPARE(p.exitCode(), 0);

    QFile f(log);
    QVERIFY2(f.open(QIODevice::ReadOnly), qPrintable(log));
    QStringList lines = QString::fromUtf8(f.readAll()).split('\n');
    if (!lines.isEmpty() && lines.back().isEmpty()) lines.removeLast();
    QVERIFY(lines.size() > 8);
    QVERIFY(lines[0].startsWith("========== Kestrum Trace started at "));
    const QRegularExpression prefixed(R"(^\(\d+\)\S+ \S+: .*$)");
    QStringList body;
    for (int i = 7; i < lines.size(); ++i) {
      QVERIFY2(prefixed.match(lines[i]).hasMatch(), qPrintable(lines[i]));
      body << lines[i].section(": ", 1, -1);
    }
    QVERIFY(body.contains("Globals.ScanDisks"));
    QVERIFY(body.contains("frmMain.LoadDisks"));
    // Offscreen, a box would have gone to standard error; the header names no organization.
    const QString errors = QString::fromUtf8(p.readAllStandardError());
    QVERIFY2(!errors.contains("Globals."), qPrintable(errors));
    QVERIFY(std::any_of(lines.begin(), lines.begin() + 7,
                        [](const QString& l) { return l.endsWith("  Organization: "); }));
    bool space = false;
    int found = 0;
    for (const QString& b : body) {
      space |= b.startsWith("Globals.GetDriveSpace(size=");
      found += b.startsWith("  found: ") ? 1 : 0;
    }
    QVERIFY(space);
    QVERIFY(found >= 1);
  }
};

QTEST_MAIN(TestTraceStartup)
#include "test_trace_startup.moc"
