#pragma once
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <functional>
#include <string>

#include "core/commands/zip_command.h"
#include "core/fileops/zip_runner.h"

namespace kestrum::gui {

// One of the two status controls: the name of what is being zipped and a percentage.
class ZipStatusControl : public QWidget {
  Q_OBJECT
 public:
  ZipStatusControl(const QString& objectName, const QString& accessibleName, QWidget* parent);
  // Shows percent and text as a status event does: the text changes only when it differs.
  void Show(int percent, const QString& text);
  int Percent() const { return bar_->value(); }
  QString Text() const { return text_; }
  QProgressBar* Bar() const { return bar_; }
  QLabel* Label() const { return label_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Elide();  // the text cut to the label's width

  QLabel* label_;
  QProgressBar* bar_;
  QString text_;
};

// The "Zip Files" window: the target archive, OK, CANCEL and the two progress controls. It
// runs one zip of the request's items on a worker thread and stays responsive meanwhile.
// Any way of closing it during a run cancels the run and waits for the worker first.
class frmZip : public QDialog {
  Q_OBJECT
 public:
  frmZip(ZipRequest request, QWidget* owner);
  ~frmZip() override;

  void Form_Load();
  void OKButton_Click();
  void CancelButton_Click();
  void TargeBrowseButton_Click();
  // F12 runs OnF12 when it is set; other keys do nothing here.
  void Form_KeyDown(QKeyEvent* e);

  // Cancels a running zip, waits for it and closes the window: the owner's way out when it
  // closes itself.
  void CloseForOwner();

  // True once a zip has run (whatever its result): the owner then rebuilds its list.
  bool FilesZipped() const { return filesZipped_; }
  bool Busy() const { return busy_; }
  const ZipRunner& Runner() const { return runner_; }

  QLineEdit* TargetFileBox() const { return targetFileBox_; }
  QPushButton* OKButton() const { return okButton_; }
  QPushButton* CancelButton() const { return cancelButton_; }
  QPushButton* TargeBrowseButton() const { return browseButton_; }
  QLabel* Label1() const { return label1_; }
  QLabel* Label2() const { return label2_; }
  ZipStatusControl* ZipStatusCtrl1() const { return status1_; }
  ZipStatusControl* ZipStatusCtrl2() const { return status2_; }

  // Installed by the owner: F12's action.
  std::function<void()> OnF12;
  // The message box (critical or not) and the save dialog; tests replace them.
  std::function<void(const QString& text, bool critical)> ShowMessage;
  std::function<QString(const QString& startFolder)> AskTarget;
  // The system calls the zip reads files with; tests replace them.
  FileOpsSeam Calls = SystemSeam();

 protected:
  void closeEvent(QCloseEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void reject() override;

 private:
  void Poll();
  void Finish();
  void StopAndWait();
  std::string TargetBytes() const;

  ZipRequest request_;
  ZipRunner runner_;
  QTimer poll_;
  QLineEdit* targetFileBox_;
  QPushButton* okButton_;
  QPushButton* cancelButton_;
  QPushButton* browseButton_;
  QLabel* label1_;
  QLabel* label2_;
  ZipStatusControl* status1_;
  ZipStatusControl* status2_;
  // The box's first text and the exact bytes it stands for, so that a path that is not valid
  // UTF-8 survives when the user only adds a file name to it.
  QString initialText_;
  bool busy_ = false;
  bool cancelRequested_ = false;
  bool filesZipped_ = false;
};

}  // namespace kestrum::gui
