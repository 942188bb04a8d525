#pragma once
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <functional>
#include <vector>

#include "core/commands/user_commands.h"

namespace kestrum::gui {

// The dialog of the user's own commands: the list on the left, the chosen command's title,
// command line, rows, and switches on the right. OK keeps the list only when every command
// passes CheckUserCommand; Cancel keeps nothing.
class frmCommands : public QDialog {
  Q_OBJECT
 public:
  frmCommands(std::vector<UserCommand> commands, QWidget* owner);

  const std::vector<UserCommand>& Commands() const { return commands_; }

  QListWidget* List() const { return list_; }
  QLineEdit* TitleBox() const { return title_; }
  QLineEdit* LineBox() const { return line_; }
  QComboBox* AppliesBox() const { return applies_; }
  QCheckBox* ConfirmBox() const { return confirm_; }
  QCheckBox* RefreshBox() const { return refresh_; }
  QCheckBox* EnabledBox() const { return enabled_; }
  QPushButton* AddButton() const { return add_; }
  QPushButton* RemoveButton() const { return remove_; }
  QDialogButtonBox* Buttons() const { return buttons_; }

  // The message box of a command that cannot be kept; tests replace it.
  std::function<void(const QString& text)> ShowMessage;

  void accept() override;

 private:
  void Show(int row);   // the form shows the command at row
  void Store();         // the form's fields into the current command
  void Relabel(int row);
  void Move(int by);
  void SyncEnabled();

  std::vector<UserCommand> commands_;
  QListWidget* list_;
  QLineEdit* title_;
  QLineEdit* line_;
  QComboBox* applies_;
  QCheckBox* confirm_;
  QCheckBox* refresh_;
  QCheckBox* enabled_;
  QPushButton* add_;
  QPushButton* remove_;
  QPushButton* up_;
  QPushButton* down_;
  QDialogButtonBox* buttons_;
  bool showing_ = false;
};

}  // namespace kestrum::gui
