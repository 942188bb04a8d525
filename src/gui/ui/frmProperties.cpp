#include "gui/ui/frmProperties.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "gui/controls/text.h"
#include "kestrum_version.h"

namespace kestrum::gui {

namespace {

// A value read by a screen reader as its caption and the value itself.
QLabel* ValueLabel(const QString& text, const QString& caption, QWidget* parent) {
  auto* l = new QLabel(text, parent);
  l->setTextFormat(Qt::PlainText);
  l->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  l->setAccessibleName(caption + ": " + text);
  return l;
}

// Names and paths can be longer than any window: a read-only line that scrolls, selectable
// and readable whole by a screen reader.
QLineEdit* PathLine(const QString& text, const QString& accessibleName, QWidget* parent) {
  auto* e = new QLineEdit(text, parent);
  e->setReadOnly(true);
  e->setFrame(false);
  e->setCursorPosition(0);
  e->setAccessibleName(accessibleName);
  QPalette p = e->palette();
  p.setColor(QPalette::Base, Qt::transparent);
  e->setPalette(p);
  return e;
}

}  // namespace

frmProperties::frmProperties(const PropertiesInfo& info, QWidget* parent) : QDialog(parent) {
  setObjectName("frmProperties");
  setAttribute(Qt::WA_DeleteOnClose);
  setModal(false);
  const QString name = DisplayText(info.Name.empty() ? info.FullPath : info.Name);
  setWindowTitle(name + " Properties - " + version::Product);

  auto* layout = new QVBoxLayout(this);
  auto* heading = new QLabel(name, this);
  heading->setObjectName("lblHeading");
  heading->setTextFormat(Qt::PlainText);
  QFont bold = heading->font();
  bold.setBold(true);
  bold.setPointSizeF(bold.pointSizeF() * 1.2);
  heading->setFont(bold);
  layout->addWidget(heading);
  auto* line = new QFrame(this);
  line->setFrameShape(QFrame::HLine);
  line->setFrameShadow(QFrame::Sunken);
  layout->addWidget(line);

  if (!info.Error.empty()) {
    auto* error = ValueLabel(DisplayText(info.Error), "Error", this);
    error->setWordWrap(true);
    error->setObjectName("lblError");
    layout->addWidget(error);
  } else {
    auto* form = new QFormLayout();
    form->setLabelAlignment(Qt::AlignRight);
    form->setFieldGrowthPolicy(QFormLayout::ExpandingFieldsGrow);
    form->setHorizontalSpacing(12);
    for (const auto& [label, value] : info.Rows) {
      const QString l = QString::fromStdString(label);
      QWidget* v = label == "Name" || label == "Folder" || label == "Type"
                       ? static_cast<QWidget*>(PathLine(DisplayText(value), l, this))
                       : ValueLabel(DisplayText(value), l, this);
      v->setObjectName("val" + QString(l).remove(' '));
      auto* caption = new QLabel(l + ":", this);
      caption->setBuddy(v);
      if (label == "Scanned size") {
        auto* sep = new QFrame(this);
        sep->setFrameShape(QFrame::HLine);
        sep->setFrameShadow(QFrame::Sunken);
        form->addRow(sep);
      }
      form->addRow(caption, v);
    }
    layout->addLayout(form);
  }
  layout->addStretch(1);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
  buttons->button(QDialogButtonBox::Close)->setAccessibleName("Close");
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);
  layout->addWidget(buttons);
  layout->setContentsMargins(16, 14, 16, 12);
  setMinimumWidth(460);
  resize(520, sizeHint().height());
}

}  // namespace kestrum::gui
