#pragma once
#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <functional>
#include <string>

#include "core/presenter/comparing.h"

namespace kestrum::gui {

// "Compare With": the earlier scans the history keeps of the tree selected (date and size of
// each saved file, newest first), a button to choose any saved scan file, and "None" to stop
// comparing. Choice() says what was chosen once the dialog is closed.
class frmCompare : public QDialog {
  Q_OBJECT
 public:
  // Asks for a saved scan file; "" when the user cancels. The window's file dialog unless
  // replaced (tests).
  using AskFile = std::function<std::string(QWidget* owner)>;
  explicit frmCompare(const CompareOffer& offer, QWidget* owner = nullptr, AskFile ask = {});
  const CompareChoice& Choice() const { return choice_; }
  const CompareOffer& Offer() const { return offer_; }
  QTreeWidget* ScanList() const { return list_; }
  QPushButton* CompareButton() const { return compare_; }
  QPushButton* FileButton() const { return file_; }
  QPushButton* NoneButton() const { return none_; }

 private:
  void CompareSelected();
  void ChooseFile();

  CompareOffer offer_;
  AskFile ask_;
  CompareChoice choice_;
  QTreeWidget* list_;
  QPushButton* compare_;
  QPushButton* file_;
  QPushButton* none_;
};

}  // namespace kestrum::gui
