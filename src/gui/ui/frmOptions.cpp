#include "gui/ui/frmOptions.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

#include "gui/ui/FunctionKeys.h"

namespace kestrum::gui {

frmOptions::frmOptions(QWidget* parent) : QDialog(parent) {
  setObjectName("frmOptions");
  setWindowTitle("Options");
  if (parent) setWindowIcon(parent->windowIcon());
  frame_ = new QGroupBox("Zip Options", this);
  frame_->setObjectName("Frame1");
  frame_->setMinimumSize(fontMetrics().averageCharWidth() * 48, fontMetrics().height() * 10);
  ok_ = new QPushButton("OK", this);
  ok_->setObjectName("OKButton");
  ok_->setToolTip("Save changes and close Options form");
  ok_->setDefault(true);
  cancel_ = new QPushButton("CANCEL", this);
  cancel_->setObjectName("CancelButton");
  cancel_->setToolTip("Close Options form without saving changes");
  connect(ok_, &QPushButton::clicked, this, &frmOptions::OKButton_Click);
  connect(cancel_, &QPushButton::clicked, this, &frmOptions::CancelButton_Click);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(ok_);
  buttons->addWidget(cancel_);
  auto* v = new QVBoxLayout(this);
  v->addWidget(frame_, 1);
  v->addLayout(buttons);
  InstallF12(this);
}

}  // namespace kestrum::gui
