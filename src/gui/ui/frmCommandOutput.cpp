#include "gui/ui/frmCommandOutput.h"

#include <QCloseEvent>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QPointer>
#include <QScrollBar>
#include <QVBoxLayout>

#include "core/commands/command_slot.h"
#include "gui/controls/text.h"
#include "gui/ui/FunctionKeys.h"

namespace kestrum::gui {

namespace {
class OutputSink : public CommandOutput {
 public:
  explicit OutputSink(frmCommandOutput* w) : window_(w) {}
  void Append(const std::string& bytes) override {
    if (window_) window_->Append(bytes);
  }
  void Finished(const std::string& summary, bool ok) override {
    if (window_) window_->Finished(summary, ok);
  }

 private:
  QPointer<frmCommandOutput> window_;
};
}  // namespace

frmCommandOutput::frmCommandOutput(const QString& title, QWidget* owner) : QDialog(owner) {
  setObjectName("frmCommandOutput");
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowFlag(Qt::Window);
  setWindowTitle(title + " - Kestrum");
  if (owner) setWindowIcon(owner->windowIcon());
  status_ = new QLabel(title + ": running...", this);
  status_->setObjectName("lblStatus");
  status_->setTextFormat(Qt::PlainText);
  status_->setWordWrap(true);
  output_ = new QPlainTextEdit(this);
  output_->setObjectName("txtOutput");
  output_->setReadOnly(true);
  output_->setAccessibleName("Output");
  output_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  output_->setLineWrapMode(QPlainTextEdit::NoWrap);
  output_->setTextInteractionFlags(Qt::TextSelectableByKeyboard | Qt::TextSelectableByMouse);
  stop_ = new QPushButton("&Stop", this);
  stop_->setObjectName("cmdStop");
  close_ = new QPushButton("&Close", this);
  close_->setObjectName("cmdClose");
  connect(stop_, &QPushButton::clicked, this, [this] {
    // While this window's command runs it holds the slot: Stop reaches it and nothing else.
    if (running_) CommandSlot::Stop();
  });
  connect(close_, &QPushButton::clicked, this, &QDialog::close);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(stop_);
  buttons->addWidget(close_);
  auto* v = new QVBoxLayout(this);
  v->addWidget(status_);
  v->addWidget(output_, 1);
  v->addLayout(buttons);
  const QFontMetrics fm(output_->font());
  resize(fm.averageCharWidth() * 90, fm.height() * 24);
  stop_->setDefault(true);
  InstallF12(this);
}

std::shared_ptr<CommandOutput> frmCommandOutput::Sink() {
  return std::make_shared<OutputSink>(this);
}

void frmCommandOutput::Append(const std::string& bytes) {
  QString text = decoder_.decode(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
  QScrollBar* bar = output_->verticalScrollBar();
  const bool atEnd = bar->value() == bar->maximum();
  QTextCursor end(output_->document());
  end.movePosition(QTextCursor::End);
  end.insertText(text);
  if (atEnd) bar->setValue(bar->maximum());
}

void frmCommandOutput::Finished(const std::string& summary, bool ok) {
  running_ = false;
  const QString title = windowTitle().chopped(QString(" - Kestrum").size());
  status_->setText(title + (ok ? ": finished, " : ": FAILED, ") + DisplayText(summary));
  stop_->setEnabled(false);
  close_->setDefault(true);
  close_->setFocus();
}

void frmCommandOutput::closeEvent(QCloseEvent* e) {
  if (running_) CommandSlot::Stop();
  e->accept();
}

}  // namespace kestrum::gui
