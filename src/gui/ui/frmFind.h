#pragma once
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <functional>
#include <string>

#include "core/presenter/search_results.h"

namespace kestrum::gui {

// The Find dialog: a name pattern (text contained, wildcard or regular expression, case
// folded or not), sizes at least and at most, modified after and before, a category or an
// ending, and where to look. "Search" asks check first: a form it finds fault with keeps the
// dialog open with the fault shown in it (and read out), the field at fault focused.
class frmFind : public QDialog {
  Q_OBJECT
 public:
  using Check = std::function<std::string(const SearchForm&)>;
  // folder: the folder selected in the tree ("": none; then everything is searched).
  frmFind(const SearchForm& form, const std::string& folder, Check check,
          QWidget* owner = nullptr);
  // What the fields hold now.
  SearchForm Form() const;
  QLineEdit* NameBox() const { return name_; }
  QLabel* ProblemLabel() const { return problem_; }
  QPushButton* SearchButton() const { return search_; }

 private:
  void SearchClicked();

  Check check_;
  QLineEdit* name_;
  QComboBox* mode_;
  QCheckBox* case_;
  QLineEdit* minSize_;
  QLineEdit* maxSize_;
  QLineEdit* after_;
  QLineEdit* before_;
  QComboBox* type_;
  QRadioButton* inFolder_;
  QRadioButton* everywhere_;
  QLabel* problem_;
  QPushButton* search_;
};

// Asks for the size of "Files Larger Than...", checked as the Find dialog checks its form.
class frmLargerThan : public QDialog {
  Q_OBJECT
 public:
  using Check = std::function<std::string(const std::string&)>;
  frmLargerThan(const std::string& text, Check check, QWidget* owner = nullptr);
  std::string Text() const;
  QLineEdit* SizeBox() const { return size_; }
  QLabel* ProblemLabel() const { return problem_; }

 private:
  Check check_;
  QLineEdit* size_;
  QLabel* problem_;
};

}  // namespace kestrum::gui
