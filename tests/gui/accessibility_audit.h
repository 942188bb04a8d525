#pragma once
// A window read as a screen reader reads it, through Qt's accessibility interfaces (what Qt
// hands to AT-SPI): the window is a frame, dialog or alert with a name; every visible text
// is heard whole (a label's name is its text, or holds it, or holds both ends of a text cut
// short with an ellipsis); every control has a name.
#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QAccessible>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QStringList>
#include <QTest>
#include <QTextEdit>
#include <QWidget>

namespace kestrum::test {

// The faults found, one line each; empty when the window reads whole.
inline QStringList AccessibilityFaults(QWidget* window) {
  QStringList faults;
  QAccessibleInterface* top = QAccessible::queryAccessibleInterface(window);
  if (!top) return {"no accessible interface for " + window->objectName()};
  const QAccessible::Role role = top->role();
  if (role != QAccessible::Window && role != QAccessible::Dialog &&
      role != QAccessible::AlertMessage)
    faults << QString("%1 has the role %2, not a window").arg(window->objectName()).arg(role);
  if (top->text(QAccessible::Name).isEmpty()) faults << window->objectName() + " has no name";

  const auto heard = [](const QString& name, QString shown) {
    if (shown.contains(QChar(0x2026))) {  // cut short: both ends must be in the name
      const QStringList ends = shown.split(QChar(0x2026));
      for (const QString& e : ends)
        if (!name.contains(e)) return false;
      return true;
    }
    return name.contains(shown.remove('&'));
  };
  for (QWidget* c : window->findChildren<QWidget*>()) {
    if (!c->isVisibleTo(window)) continue;
    QAccessibleInterface* i = QAccessible::queryAccessibleInterface(c);
    if (!i) continue;
    const QString name = i->text(QAccessible::Name);
    const QString what = QString("%1 \"%2\"").arg(c->metaObject()->className(), c->objectName());
    if (auto* l = qobject_cast<QLabel*>(c)) {
      if (!l->text().isEmpty() && !heard(name, l->text())) {
        faults << QString("%1 shows \"%2\" but is heard as \"%3\"").arg(what, l->text(), name);
      }
      continue;
    }
    const bool control = qobject_cast<QAbstractButton*>(c) || qobject_cast<QLineEdit*>(c) ||
                         qobject_cast<QAbstractItemView*>(c) || qobject_cast<QComboBox*>(c) ||
                         qobject_cast<QAbstractSpinBox*>(c) || qobject_cast<QProgressBar*>(c) ||
                         qobject_cast<QPlainTextEdit*>(c) || qobject_cast<QTextEdit*>(c);
    // A header is read through its view's columns.
    if (control && name.isEmpty() && !qobject_cast<QHeaderView*>(c))
      faults << what + " has no name";
  }
  return faults;
}

}  // namespace kestrum::test

// Fails the test naming every fault found in window.
#define QVERIFY_READABLE(window)                                              \
  do {                                                                        \
    const QStringList faults_ = ::kestrum::test::AccessibilityFaults(window); \
    QVERIFY2(faults_.isEmpty(), qPrintable(faults_.join('\n')));              \
  } while (false)
