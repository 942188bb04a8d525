#include "gui/ui/frmZip.h"

#include <QCloseEvent>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMessageBox>
#include <QVBoxLayout>

#include "core/trace/trace.h"
#include "gui/controls/text.h"
#include "kestrum_version.h"

namespace kestrum::gui {

ZipStatusControl::ZipStatusControl(const QString& objectName, const QString& accessibleName,
                                   QWidget* parent)
    : QWidget(parent) {
  setObjectName(objectName);
  setAccessibleName(accessibleName);
  label_ = new QLabel(this);
  label_->setObjectName(objectName + "Text");
  label_->setTextFormat(Qt::PlainText);
  // A screen reader hears the whole text, however it is cut on the screen.
  label_->setAccessibleDescription(accessibleName + " item");
  label_->setMinimumWidth(10);
  label_->installEventFilter(this);
  bar_ = new QProgressBar(this);
  bar_->setObjectName(objectName + "Bar");
  bar_->setRange(0, 100);
  bar_->setValue(0);
  bar_->setAccessibleName(accessibleName);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(2);
  layout->addWidget(label_);
  layout->addWidget(bar_);
}

void ZipStatusControl::Show(int percent, const QString& text) {
  percent = std::clamp(percent, 0, 100);
  if (bar_->value() != percent) bar_->setValue(percent);
  if (text_ != text) {
    text_ = text;
    label_->setAccessibleName(text);
    label_->setToolTip(text);
    Elide();
  }
}

void ZipStatusControl::Elide() {
  // Long paths are cut in the middle, where they differ least from their neighbours.
  label_->setText(label_->fontMetrics().elidedText(text_, Qt::ElideMiddle, label_->width()));
}

bool ZipStatusControl::eventFilter(QObject* watched, QEvent* event) {
  if (watched == label_ && event->type() == QEvent::Resize) Elide();
  return QWidget::eventFilter(watched, event);
}

frmZip::frmZip(ZipRequest request, QWidget* owner) : QDialog(owner), request_(std::move(request)) {
  setObjectName("frmZip");
  setWindowTitle("Zip Files");
  setModal(true);
  setAccessibleName("Zip Files");

  label1_ = new QLabel("Target Zip File Name:", this);
  label1_->setObjectName("Label1");
  targetFileBox_ = new QLineEdit(this);
  targetFileBox_->setObjectName("TargetFileBox");
  targetFileBox_->setToolTip("Target Zip file name");
  targetFileBox_->setAccessibleName("Target Zip File Name:");
  targetFileBox_->setAccessibleDescription("Target Zip file name");
  label1_->setBuddy(targetFileBox_);
  browseButton_ = new QPushButton("***", this);
  browseButton_->setObjectName("TargeBrowseButton");
  browseButton_->setToolTip("Select target zip file or directory");
  browseButton_->setAccessibleName("Select target zip file or directory");
  browseButton_->setAutoDefault(false);
  browseButton_->setMaximumWidth(browseButton_->fontMetrics().horizontalAdvance("M***M") * 2);
  label2_ = new QLabel(
      "Select or type Target Zip File name above then click OK to zip selected files. Click "
      "CANCEL to stop zip operation. When done, click OK to close window.",
      this);
  if (request_.Excluded > 0)
    label2_->setText(label2_->text() +
                     QString(request_.Excluded == 1
                                 ? "\n1 item was left out of the scan by an exclude rule: its "
                                   "size was not counted."
                                 : "\n%1 items were left out of the scan by an exclude rule: "
                                   "their size was not counted.")
                         .arg(request_.Excluded));
  label2_->setObjectName("Label2");
  label2_->setWordWrap(true);
  status1_ = new ZipStatusControl("ZipStatusCtrl1", "Zip progress", this);
  status2_ = new ZipStatusControl("ZipStatusCtrl2", "Current item progress", this);
  okButton_ = new QPushButton("OK", this);
  okButton_->setObjectName("OKButton");
  okButton_->setToolTip("Zip seleced files to target");
  okButton_->setAccessibleName("OK");
  okButton_->setAccessibleDescription("Zip seleced files to target");
  okButton_->setDefault(true);
  cancelButton_ = new QPushButton("CANCEL", this);
  cancelButton_->setObjectName("CancelButton");
  cancelButton_->setToolTip("Cancel Zip operation");
  cancelButton_->setAccessibleName("CANCEL");
  cancelButton_->setAccessibleDescription("Cancel Zip operation");
  cancelButton_->setAutoDefault(false);

  auto* grid = new QGridLayout(this);
  grid->addWidget(label1_, 0, 0, 1, 2);
  grid->addWidget(targetFileBox_, 1, 0);
  grid->addWidget(browseButton_, 1, 1);
  grid->addWidget(label2_, 2, 0, 1, 2);
  grid->addWidget(status1_, 3, 0, 1, 2);
  grid->addWidget(status2_, 4, 0, 1, 2);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(okButton_);
  buttons->addWidget(cancelButton_);
  grid->addLayout(buttons, 5, 0, 1, 2);
  grid->setColumnStretch(0, 1);
  const int em = fontMetrics().horizontalAdvance('M');
  setMinimumWidth(36 * em);
  resize(44 * em, sizeHint().height());

  connect(okButton_, &QPushButton::clicked, this, &frmZip::OKButton_Click);
  connect(cancelButton_, &QPushButton::clicked, this, &frmZip::CancelButton_Click);
  connect(browseButton_, &QPushButton::clicked, this, &frmZip::TargeBrowseButton_Click);
  poll_.setInterval(50);
  connect(&poll_, &QTimer::timeout, this, &frmZip::Poll);

  // The boxes are the program's, titled with its name, not with this window's.
  ShowMessage = [this](const QString& text, bool critical) {
    if (critical)
      QMessageBox::critical(this, version::Product, text, QMessageBox::Ok);
    else
      QMessageBox::warning(this, version::Product, text, QMessageBox::Ok);
  };
  AskTarget = [this](const QString& startFolder) {
    // An existing archive is updated, not replaced, so the dialog does not ask to replace it.
    return QFileDialog::getSaveFileName(this, "Select target zip file", startFolder,
                                        "Zip files (*.zip);;All files (*)", nullptr,
                                        QFileDialog::DontConfirmOverwrite);
  };
  Form_Load();
}

frmZip::~frmZip() { StopAndWait(); }

void frmZip::Form_Load() {
  initialText_ = DisplayText(request_.ZipPath);
  targetFileBox_->setText(initialText_);
  busy_ = false;
  cancelRequested_ = false;
}

std::string frmZip::TargetBytes() const {
  const QString text = targetFileBox_->text();
  // The part the user left as it was keeps its exact bytes.
  if (!initialText_.isEmpty() && text.startsWith(initialText_))
    return request_.ZipPath + text.mid(initialText_.size()).toStdString();
  return text.toStdString();
}

void frmZip::OKButton_Click() {
  if (Tracing()) Trace("frmZip.OKButton");
  if (busy_) return;
  if (filesZipped_) {
    accept();
    return;
  }
  const std::optional<std::string> target = ResolveZipTarget(TargetBytes(), request_.BaseFolder);
  if (!target) {
    ShowMessage(kTargetIncorrect, true);
    targetFileBox_->setFocus();
    return;
  }
  if (Tracing()) Trace("  files=" + *target);
  busy_ = true;
  cancelRequested_ = false;
  targetFileBox_->setEnabled(false);
  browseButton_->setEnabled(false);
  okButton_->setEnabled(false);
  status1_->Show(0, "");
  status2_->Show(0, "");
  runner_.Start(*target, request_.Items, {}, Calls);
  poll_.start();
}

void frmZip::CancelButton_Click() {
  if (busy_) {
    cancelRequested_ = true;
    runner_.Cancel();
  } else {
    QDialog::reject();
  }
}

void frmZip::TargeBrowseButton_Click() {
  // The largest-files folder has no folder of its own: the dialog starts where a relative
  // target would go.
  const QString chosen =
      AskTarget(DisplayText(request_.ZipPath.empty() ? request_.BaseFolder : request_.ZipPath));
  if (!chosen.isEmpty()) targetFileBox_->setText(chosen);
}

void frmZip::Form_KeyDown(QKeyEvent* e) {
  if (e->key() == Qt::Key_F12 && OnF12) OnF12();
}

void frmZip::keyPressEvent(QKeyEvent* e) {
  if (e->key() == Qt::Key_F12) {
    Form_KeyDown(e);
    return;
  }
  QDialog::keyPressEvent(e);
}

void frmZip::Poll() {
  const ZipRunner::Progress major = runner_.Major();
  const ZipRunner::Progress minor = runner_.Minor();
  status1_->Show(major.Percent, DisplayText(major.Item));
  status2_->Show(minor.Percent, DisplayText(minor.Item));
  if (runner_.Finished()) Finish();
}

void frmZip::Finish() {
  poll_.stop();
  runner_.Wait();
  busy_ = false;
  filesZipped_ = true;
  okButton_->setEnabled(true);
  const ZipOutcome& out = runner_.Outcome();
  if (out.Code == kZipCancelled) {
    QDialog::reject();
    return;
  }
  if (out.Code == kZipDone) {
    status1_->Show(100, status1_->Text());
    status2_->Show(100, "Done");
  } else {
    status2_->Show(status2_->Percent(), out.Code == kZipLeftOut ? "Items left out" : "Failed");
    ShowMessage(DisplayText(out.Message), out.Code != kZipLeftOut);
  }
  okButton_->setFocus();
}

void frmZip::StopAndWait() {
  if (!busy_) return;
  runner_.Cancel();
  runner_.Wait();
  poll_.stop();
  busy_ = false;
  filesZipped_ = true;
}

void frmZip::CloseForOwner() {
  StopAndWait();
  QDialog::reject();
}

void frmZip::closeEvent(QCloseEvent* e) {
  StopAndWait();
  e->accept();
  QDialog::closeEvent(e);
}

void frmZip::reject() {
  // Escape and the title bar's close end here too: a run is cancelled and waited for.
  StopAndWait();
  QDialog::reject();
}

}  // namespace kestrum::gui
