#include "gui/ui/frmFind.h"

#include <QAccessible>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "core/query/file_types.h"
#include "gui/ui/FunctionKeys.h"

namespace kestrum::gui {

namespace {

QString Q(const std::string& s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}
std::string S(const QString& s) { return s.toUtf8().toStdString(); }

constexpr const char* kAnyType = "Any type";

// A label for a field, its access key reaching the field.
QLabel* LabelFor(const char* text, QWidget* field, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setBuddy(field);
  return label;
}

// Shows a fault in label, says it to a screen reader, and puts the cursor where it lies.
void ShowProblem(QLabel* label, const std::string& text, QWidget* field) {
  label->setText(Q(text));
  label->setVisible(!text.empty());
  if (text.empty()) return;
  QAccessibleEvent event(label, QAccessible::Alert);
  QAccessible::updateAccessibility(&event);
  if (field) field->setFocus();
}

QLabel* ProblemLabelIn(QWidget* parent) {
  auto* label = new QLabel(parent);
  label->setObjectName("lblProblem");
  label->setWordWrap(true);
  label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  QPalette palette = label->palette();
  palette.setColor(QPalette::WindowText, QColor(0xc0, 0x1c, 0x28));
  label->setPalette(palette);
  label->setVisible(false);
  return label;
}

}  // namespace

frmFind::frmFind(const SearchForm& form, const std::string& folder, Check check, QWidget* owner)
    : QDialog(owner), check_(std::move(check)) {
  setObjectName("frmFind");
  setWindowTitle("Find");
  if (owner) setWindowIcon(owner->windowIcon());
  const int chars = fontMetrics().averageCharWidth();

  name_ = new QLineEdit(Q(form.Name), this);
  name_->setObjectName("txtName");
  name_->setMinimumWidth(chars * 40);
  name_->setPlaceholderText("any name");
  mode_ = new QComboBox(this);
  mode_->setObjectName("cboMatch");
  mode_->addItem("Contains the text");        // Mode::Plain
  mode_->addItem("Wildcard (*, ?, [...])");   // Mode::Wildcard
  mode_->addItem("Regular expression");       // Mode::Regex
  mode_->setCurrentIndex(static_cast<int>(form.Mode));
  case_ = new QCheckBox("Match &case", this);
  case_->setObjectName("chkCase");
  case_->setChecked(form.CaseSensitive);

  const auto field = [this, chars](const char* objectName, const std::string& value,
                                   const char* hint) {
    auto* e = new QLineEdit(Q(value), this);
    e->setObjectName(objectName);
    e->setPlaceholderText(hint);
    e->setMinimumWidth(chars * 16);
    return e;
  };
  minSize_ = field("txtMinSize", form.MinSize, "e.g. 100M");
  maxSize_ = field("txtMaxSize", form.MaxSize, "e.g. 2G");
  after_ = field("txtAfter", form.ModifiedAfter, "YYYY-MM-DD");
  before_ = field("txtBefore", form.ModifiedBefore, "YYYY-MM-DD");

  type_ = new QComboBox(this);
  type_->setObjectName("cboType");
  type_->setEditable(true);
  type_->addItem(kAnyType);
  for (std::size_t i = 0; i < kFileCategories; ++i) {
    const std::string_view name = CategoryName(static_cast<FileCategory>(i));
    type_->addItem(Q(std::string(name)));
  }
  type_->setCurrentText(form.Type.empty() ? QString(kAnyType) : Q(form.Type));
  type_->setToolTip("A category, or an ending such as .iso or .tar.gz");
  // The text box inside is a control of its own to a screen reader: it is named as the field.
  type_->lineEdit()->setAccessibleName("Type or ending");

  inFolder_ = new QRadioButton(
      folder.empty() ? QString("In the &folder selected (none is selected)")
                     : "In the &folder selected: " + Q(folder),
      this);
  inFolder_->setObjectName("optFolder");
  inFolder_->setEnabled(!folder.empty());
  everywhere_ = new QRadioButton("&Everywhere under My Computer, saved scans included", this);
  everywhere_->setObjectName("optEverywhere");
  auto* where = new QButtonGroup(this);
  where->addButton(inFolder_);
  where->addButton(everywhere_);
  (form.Everywhere || folder.empty() ? everywhere_ : inFolder_)->setChecked(true);

  problem_ = ProblemLabelIn(this);

  auto* sizes = new QHBoxLayout;
  sizes->addWidget(minSize_);
  sizes->addWidget(LabelFor("at &most:", maxSize_, this));
  sizes->addWidget(maxSize_);
  auto* dates = new QHBoxLayout;
  dates->addWidget(after_);
  dates->addWidget(LabelFor("and &before:", before_, this));
  dates->addWidget(before_);
  auto* nameRow = new QHBoxLayout;
  nameRow->addWidget(mode_);
  nameRow->addWidget(case_);
  nameRow->addStretch(1);

  auto* fields = new QFormLayout;
  fields->addRow(LabelFor("&Name:", name_, this), name_);
  fields->addRow(LabelFor("Matc&h:", mode_, this), nameRow);
  fields->addRow(LabelFor("Size at &least:", minSize_, this), sizes);
  fields->addRow(LabelFor("Modified &after:", after_, this), dates);
  fields->addRow(LabelFor("&Type or ending:", type_, this), type_);

  search_ = new QPushButton("&Search", this);
  search_->setObjectName("cmdSearch");
  search_->setDefault(true);
  auto* buttons = new QDialogButtonBox(this);
  buttons->addButton(search_, QDialogButtonBox::AcceptRole);
  buttons->addButton(QDialogButtonBox::Cancel);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(search_, &QPushButton::clicked, this, &frmFind::SearchClicked);

  auto* v = new QVBoxLayout(this);
  v->addLayout(fields);
  v->addWidget(inFolder_);
  v->addWidget(everywhere_);
  v->addWidget(problem_);
  v->addStretch(1);
  v->addWidget(buttons);
  InstallF12(this);
  name_->setFocus();
  name_->selectAll();
}

SearchForm frmFind::Form() const {
  SearchForm f;
  f.Name = S(name_->text());
  f.Mode = static_cast<NameMatcher::Mode>(std::max(0, mode_->currentIndex()));
  f.CaseSensitive = case_->isChecked();
  f.MinSize = S(minSize_->text().trimmed());
  f.MaxSize = S(maxSize_->text().trimmed());
  f.ModifiedAfter = S(after_->text().trimmed());
  f.ModifiedBefore = S(before_->text().trimmed());
  const QString type = type_->currentText().trimmed();
  f.Type = type == kAnyType ? std::string() : S(type);
  f.Everywhere = everywhere_->isChecked();
  return f;
}

void frmFind::SearchClicked() {
  const SearchForm f = Form();
  const std::string fault = check_ ? check_(f) : std::string();
  if (fault.empty()) {
    accept();
    return;
  }
  // The field the fault names gets the cursor; the message says which it is.
  QWidget* at = name_;
  if (fault.find("smallest size") != std::string::npos) at = minSize_;
  else if (fault.find("largest size") != std::string::npos) at = maxSize_;
  else if (fault.find("\"modified after\"") != std::string::npos) at = after_;
  else if (fault.find("\"modified before\"") != std::string::npos) at = before_;
  else if (fault.find("The type") != std::string::npos) at = type_;
  ShowProblem(problem_, fault, at);
}

frmLargerThan::frmLargerThan(const std::string& text, Check check, QWidget* owner)
    : QDialog(owner), check_(std::move(check)) {
  setObjectName("frmLargerThan");
  setWindowTitle("Files Larger Than");
  if (owner) setWindowIcon(owner->windowIcon());
  size_ = new QLineEdit(Q(text), this);
  size_->setObjectName("txtSize");
  size_->setPlaceholderText("e.g. 500M");
  size_->setMinimumWidth(fontMetrics().averageCharWidth() * 24);
  problem_ = ProblemLabelIn(this);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(buttons, &QDialogButtonBox::accepted, this, [this] {
    const std::string fault = check_ ? check_(Text()) : std::string();
    if (fault.empty()) {
      accept();
      return;
    }
    ShowProblem(problem_, fault, size_);
  });
  auto* fields = new QFormLayout;
  fields->addRow(LabelFor("Files of at &least:", size_, this), size_);
  auto* v = new QVBoxLayout(this);
  v->addLayout(fields);
  v->addWidget(problem_);
  v->addWidget(buttons);
  InstallF12(this);
  size_->selectAll();
}

std::string frmLargerThan::Text() const { return S(size_->text().trimmed()); }

}  // namespace kestrum::gui
