#pragma once
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <functional>
#include <string>

#include "core/presenter/exclude_form.h"

namespace kestrum::gui {

// The dialog of the exclude rules: the list of rules on the left, the chosen rule's pattern,
// kind, what it is matched against and its letter case on the right, and the switch of the
// CACHEDIR.TAG rule below. OK keeps the rules only when check finds nothing wrong with them;
// otherwise the fault is shown in the dialog, which stays open. Cancel keeps nothing.
class frmExcludes : public QDialog {
  Q_OBJECT
 public:
  using Check = std::function<std::string(const ExcludeForm&)>;
  frmExcludes(ExcludeForm form, Check check, QWidget* owner);

  const ExcludeForm& Form() const { return form_; }

  QListWidget* List() const { return list_; }
  QLineEdit* PatternBox() const { return pattern_; }
  QComboBox* KindBox() const { return kind_; }
  QComboBox* SubjectBox() const { return subject_; }
  QCheckBox* CaseBox() const { return case_; }
  QCheckBox* CachesBox() const { return caches_; }
  QPushButton* AddButton() const { return add_; }
  QPushButton* RemoveButton() const { return remove_; }
  QLabel* ProblemLabel() const { return problem_; }
  QDialogButtonBox* Buttons() const { return buttons_; }

 private:
  void Show(int row);  // the form shows the rule at row
  void Store();        // the form's fields into the current rule
  void Relabel(int row);
  void SyncEnabled();
  void OkClicked();

  ExcludeForm form_;
  Check check_;
  QListWidget* list_;
  QLineEdit* pattern_;
  QComboBox* kind_;
  QComboBox* subject_;
  QCheckBox* case_;
  QCheckBox* caches_;
  QPushButton* add_;
  QPushButton* remove_;
  QLabel* problem_;
  QDialogButtonBox* buttons_;
  bool showing_ = false;
};

}  // namespace kestrum::gui
