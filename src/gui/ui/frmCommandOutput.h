#pragma once
#include <QDialog>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStringDecoder>
#include <memory>
#include <string>

#include "core/commands/user_commands.h"

namespace kestrum::gui {

// The output window of one run of a user command: what the command writes, as it comes, a
// status line that ends with its exit status, Stop while it runs and Close. Closing the
// window while the command runs stops it. Not modal; deletes itself when closed.
class frmCommandOutput : public QDialog {
  Q_OBJECT
 public:
  frmCommandOutput(const QString& title, QWidget* owner);

  void Append(const std::string& bytes);
  void Finished(const std::string& summary, bool ok);

  bool Running() const { return running_; }
  QPlainTextEdit* OutputBox() const { return output_; }
  QLabel* StatusLabel() const { return status_; }
  QPushButton* StopButton() const { return stop_; }
  QPushButton* CloseButton() const { return close_; }

  // The window as the presenter's CommandOutput; it outlives the window harmlessly.
  std::shared_ptr<CommandOutput> Sink();

 protected:
  void closeEvent(QCloseEvent* e) override;

 private:
  QLabel* status_;
  QPlainTextEdit* output_;
  QPushButton* stop_;
  QPushButton* close_;
  QStringDecoder decoder_{QStringDecoder::Utf8};
  bool running_ = true;
};

}  // namespace kestrum::gui
