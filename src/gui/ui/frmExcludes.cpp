#include "gui/ui/frmExcludes.h"

#include <QAccessible>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "gui/controls/text.h"
#include "gui/ui/FunctionKeys.h"

namespace kestrum::gui {

namespace {
std::string S(const QString& s) { return s.toUtf8().toStdString(); }
}  // namespace

frmExcludes::frmExcludes(ExcludeForm form, Check check, QWidget* owner)
    : QDialog(owner), form_(std::move(form)), check_(std::move(check)) {
  setObjectName("frmExcludes");
  setWindowTitle("Exclude Rules");
  if (owner) setWindowIcon(owner->windowIcon());

  auto* listLabel = new QLabel("&Rules:", this);
  list_ = new QListWidget(this);
  list_->setObjectName("lstRules");
  list_->setAccessibleName("Rules");
  listLabel->setBuddy(list_);
  add_ = new QPushButton("&Add", this);
  add_->setObjectName("cmdAdd");
  remove_ = new QPushButton("Remo&ve", this);
  remove_->setObjectName("cmdRemove");

  pattern_ = new QLineEdit(this);
  pattern_->setObjectName("txtPattern");
  pattern_->setMinimumWidth(fontMetrics().averageCharWidth() * 40);
  kind_ = new QComboBox(this);
  kind_->setObjectName("cboKind");
  kind_->addItem("Wildcard (* ? [...])");  // ExcludeRule::Kind::Wildcard
  kind_->addItem("Regular expression");    // ExcludeRule::Kind::Regex
  subject_ = new QComboBox(this);
  subject_->setObjectName("cboSubject");
  subject_->addItem("The name");
  subject_->addItem("The full path");
  case_ = new QCheckBox("&Match letter case", this);
  case_->setObjectName("chkCase");
  caches_ = new QCheckBox("Leave out folders holding a &CACHEDIR.TAG (cache folders)", this);
  caches_->setObjectName("chkCaches");
  caches_->setChecked(form_.Caches);
  auto* hint = new QLabel(
      "A wildcard matches the whole name or path; a regular expression may match any part of "
      "it. What a rule leaves out is listed as \"excluded\" and not counted. Changed rules "
      "apply from the next full scan; a refresh keeps the rules of the drive's scan.",
      this);
  hint->setObjectName("lblHint");
  hint->setWordWrap(true);
  hint->setTextFormat(Qt::PlainText);

  problem_ = new QLabel(this);
  problem_->setObjectName("lblProblem");
  problem_->setWordWrap(true);
  problem_->setTextFormat(Qt::PlainText);
  problem_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  QPalette palette = problem_->palette();
  palette.setColor(QPalette::WindowText, QColor(0xc0, 0x1c, 0x28));
  problem_->setPalette(palette);
  problem_->setVisible(false);

  auto* fields = new QFormLayout;
  fields->addRow("&Pattern:", pattern_);
  fields->addRow("&Kind:", kind_);
  fields->addRow("Matched &against:", subject_);
  fields->addRow("", case_);

  auto* side = new QVBoxLayout;
  side->addWidget(add_);
  side->addWidget(remove_);
  side->addStretch(1);
  auto* left = new QVBoxLayout;
  left->addWidget(listLabel);
  auto* listRow = new QHBoxLayout;
  listRow->addWidget(list_, 1);
  listRow->addLayout(side);
  left->addLayout(listRow, 1);

  buttons_ = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons_->setObjectName("buttons");
  connect(buttons_, &QDialogButtonBox::accepted, this, &frmExcludes::OkClicked);
  connect(buttons_, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* top = new QHBoxLayout;
  top->addLayout(left, 2);
  top->addLayout(fields, 3);
  auto* v = new QVBoxLayout(this);
  v->addLayout(top, 1);
  v->addWidget(caches_);
  v->addWidget(hint);
  v->addWidget(problem_);
  v->addWidget(buttons_);

  for (std::size_t i = 0; i < form_.Rules.size(); ++i) {
    list_->addItem(QString());
    Relabel(static_cast<int>(i));
  }
  connect(list_, &QListWidget::currentRowChanged, this, &frmExcludes::Show);
  connect(pattern_, &QLineEdit::textEdited, this, [this] { Store(); });
  for (QComboBox* c : {kind_, subject_})
    connect(c, &QComboBox::currentIndexChanged, this, [this] { Store(); });
  connect(case_, &QCheckBox::toggled, this, [this] { Store(); });
  connect(caches_, &QCheckBox::toggled, this, [this](bool on) { form_.Caches = on; });
  connect(add_, &QPushButton::clicked, this, [this] {
    ExcludeRule r;
    r.Pattern = "*.tmp";
    form_.Rules.push_back(r);
    list_->addItem(QString());
    Relabel(list_->count() - 1);
    list_->setCurrentRow(list_->count() - 1);
    pattern_->setFocus();
    pattern_->selectAll();
  });
  connect(remove_, &QPushButton::clicked, this, [this] {
    const int row = list_->currentRow();
    if (row < 0) return;
    form_.Rules.erase(form_.Rules.begin() + row);
    delete list_->takeItem(row);
    Show(list_->currentRow());
  });

  list_->setCurrentRow(form_.Rules.empty() ? -1 : 0);
  Show(list_->currentRow());
  InstallF12(this);
}

void frmExcludes::Relabel(int row) {
  list_->item(row)->setText(
      VisibleText(ExcludeRuleText(form_.Rules[static_cast<std::size_t>(row)])));
}

void frmExcludes::SyncEnabled() {
  const bool any = list_->currentRow() >= 0;
  for (QWidget* w : std::initializer_list<QWidget*>{pattern_, kind_, subject_, case_, remove_})
    w->setEnabled(any);
}

void frmExcludes::Show(int row) {
  showing_ = true;
  if (row >= 0 && row < static_cast<int>(form_.Rules.size())) {
    const ExcludeRule& r = form_.Rules[static_cast<std::size_t>(row)];
    pattern_->setText(DisplayText(r.Pattern));
    kind_->setCurrentIndex(r.What == ExcludeRule::Kind::Regex ? 1 : 0);
    subject_->setCurrentIndex(r.FullPath ? 1 : 0);
    case_->setChecked(r.CaseSensitive);
  } else {
    pattern_->clear();
    kind_->setCurrentIndex(0);
    subject_->setCurrentIndex(0);
    case_->setChecked(true);
  }
  showing_ = false;
  SyncEnabled();
}

void frmExcludes::Store() {
  const int row = list_->currentRow();
  if (showing_ || row < 0 || row >= static_cast<int>(form_.Rules.size())) return;
  ExcludeRule& r = form_.Rules[static_cast<std::size_t>(row)];
  r.Pattern = S(pattern_->text());
  r.What = kind_->currentIndex() == 1 ? ExcludeRule::Kind::Regex : ExcludeRule::Kind::Wildcard;
  r.FullPath = subject_->currentIndex() == 1;
  r.CaseSensitive = case_->isChecked();
  Relabel(row);
}

void frmExcludes::OkClicked() {
  const std::string fault = check_ ? check_(form_) : std::string();
  problem_->setText(DisplayText(fault));
  problem_->setVisible(!fault.empty());
  if (fault.empty()) {
    accept();
    return;
  }
  QAccessibleEvent event(problem_, QAccessible::Alert);
  QAccessible::updateAccessibility(&event);
  // The rule the fault names gets the cursor.
  const std::size_t at = fault.find("Rule ");
  if (at == 0) {
    const int n = std::atoi(fault.c_str() + 5);
    if (n >= 1 && n <= list_->count()) list_->setCurrentRow(n - 1);
  }
  pattern_->setFocus();
}

}  // namespace kestrum::gui
