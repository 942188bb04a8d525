// The exclude rules dialog, driven as a user would, offscreen: the rules shown, a rule added
// and edited, a bad pattern named in the dialog (which stays open), the cache rule's switch;
// read through the accessibility interfaces. With KESTRUM_SHOT_DIR set, the dialog showing a
// fault is saved there as excludes.png.
#include <QDir>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include "gui/accessibility_audit.h"
#include "gui/ui/frmExcludes.h"

using namespace kestrum;

namespace {

ExcludeRule Rule(ExcludeRule::Kind kind, std::string pattern, bool path, bool matchCase) {
  ExcludeRule r;
  r.What = kind;
  r.Pattern = std::move(pattern);
  r.FullPath = path;
  r.CaseSensitive = matchCase;
  return r;
}

}  // namespace

class TestExcludesWindow : public QObject {
  Q_OBJECT
 private slots:
  void EditsTheRulesAndNamesABadOne() {
    ExcludeForm form;
    form.Rules = {Rule(ExcludeRule::Kind::Wildcard, "*.o", false, true),
                  Rule(ExcludeRule::Kind::Wildcard, "/home/*/.cache", true, true)};
    gui::frmExcludes d(form, CheckExcludeForm, nullptr);
    d.show();
    QVERIFY(QTest::qWaitForWindowExposed(&d));
    QCOMPARE(d.List()->count(), 2);
    QCOMPARE(d.List()->item(1)->text(), QString("path: /home/*/.cache"));
    QVERIFY(!d.CachesBox()->isChecked());  // off unless the settings say otherwise
    const QStringList faults = test::AccessibilityFaults(&d);
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));

    // A new rule, made a regular expression on names in any case, with a bad pattern.
    d.AddButton()->click();
    QCOMPARE(d.List()->currentRow(), 2);
    d.PatternBox()->selectAll();
    QTest::keyClicks(d.PatternBox(), "^(tmp");
    d.KindBox()->setCurrentIndex(1);
    d.CaseBox()->setChecked(false);
    QCOMPARE(d.List()->item(2)->text(), QString("regex any case: ^(tmp"));
    QSignalSpy accepted(&d, &QDialog::accepted);
    d.List()->setCurrentRow(0);
    d.Buttons()->button(QDialogButtonBox::Ok)->click();
    QCOMPARE(accepted.count(), 0);
    QVERIFY(d.ProblemLabel()->isVisible());
    QVERIFY2(d.ProblemLabel()->text().startsWith("Rule 3 (\"^(tmp\"):"),
             qPrintable(d.ProblemLabel()->text()));
    QCOMPARE(d.List()->currentRow(), 2);  // the faulty rule is the one shown
    if (const QString dir = qEnvironmentVariable("KESTRUM_SHOT_DIR"); !dir.isEmpty()) {
      QDir().mkpath(dir);
      d.grab().save(dir + "/excludes.png");
    }

    // Mended, the cache rule on, one rule removed: kept as shown.
    QTest::keyClicks(d.PatternBox(), ")");
    d.CachesBox()->setChecked(true);
    d.List()->setCurrentRow(0);
    d.RemoveButton()->click();
    d.Buttons()->button(QDialogButtonBox::Ok)->click();
    QCOMPARE(accepted.count(), 1);
    ExcludeForm expected;
    expected.Rules = {Rule(ExcludeRule::Kind::Wildcard, "/home/*/.cache", true, true),
                      Rule(ExcludeRule::Kind::Regex, "^(tmp)", false, false)};
    expected.Caches = true;
    QVERIFY(d.Form() == expected);
  }
};

QTEST_MAIN(TestExcludesWindow)
#include "test_excludes_window.moc"
