#include "gui/ui/frmCommands.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QVBoxLayout>

#include "gui/ui/FunctionKeys.h"

namespace kestrum::gui {

namespace {
QString Q(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }
std::string S(const QString& s) { return s.toUtf8().toStdString(); }
}  // namespace

frmCommands::frmCommands(std::vector<UserCommand> commands, QWidget* owner)
    : QDialog(owner), commands_(std::move(commands)) {
  setObjectName("frmCommands");
  setWindowTitle("Commands");
  if (owner) setWindowIcon(owner->windowIcon());

  auto* listLabel = new QLabel("Co&mmands:", this);
  list_ = new QListWidget(this);
  list_->setObjectName("lstCommands");
  list_->setAccessibleName("Commands");
  listLabel->setBuddy(list_);
  add_ = new QPushButton("&Add", this);
  add_->setObjectName("cmdAdd");
  remove_ = new QPushButton("&Remove", this);
  remove_->setObjectName("cmdRemove");
  up_ = new QPushButton("Move &Up", this);
  up_->setObjectName("cmdUp");
  down_ = new QPushButton("Move &Down", this);
  down_->setObjectName("cmdDown");

  title_ = new QLineEdit(this);
  title_->setObjectName("txtTitle");
  line_ = new QLineEdit(this);
  line_->setObjectName("txtCommandLine");
  line_->setMinimumWidth(fontMetrics().averageCharWidth() * 56);
  applies_ = new QComboBox(this);
  applies_->setObjectName("cboAppliesTo");
  applies_->addItem("Files");    // AppliesTo::Files
  applies_->addItem("Folders");  // AppliesTo::Folders
  applies_->addItem("Files and folders");
  confirm_ = new QCheckBox("As&k before running", this);
  confirm_->setObjectName("chkConfirm");
  refresh_ = new QCheckBox("Re&fresh the folder afterwards", this);
  refresh_->setObjectName("chkRefresh");
  enabled_ = new QCheckBox("&Enabled (shown in the menus)", this);
  enabled_->setObjectName("chkEnabled");
  auto* hint = new QLabel(
      "{path} is the row's full path, {name} its name and {folder} the folder holding it. "
      "Kestrum quotes each for the shell: do not put them in quotes. The command runs in the "
      "folder holding the row, once per selected row.",
      this);
  hint->setObjectName("lblPlaceholders");
  hint->setWordWrap(true);
  hint->setTextFormat(Qt::PlainText);

  auto* form = new QFormLayout;
  form->addRow("&Title:", title_);
  form->addRow("Command &line:", line_);
  form->addRow("", hint);
  form->addRow("A&pplies to:", applies_);
  form->addRow("", confirm_);
  form->addRow("", refresh_);
  form->addRow("", enabled_);

  auto* side = new QVBoxLayout;
  side->addWidget(add_);
  side->addWidget(remove_);
  side->addWidget(up_);
  side->addWidget(down_);
  side->addStretch(1);
  auto* left = new QVBoxLayout;
  left->addWidget(listLabel);
  auto* listRow = new QHBoxLayout;
  listRow->addWidget(list_, 1);
  listRow->addLayout(side);
  left->addLayout(listRow, 1);

  buttons_ = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons_->setObjectName("buttons");
  connect(buttons_, &QDialogButtonBox::accepted, this, &frmCommands::accept);
  connect(buttons_, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* top = new QHBoxLayout;
  top->addLayout(left, 2);
  top->addLayout(form, 3);
  auto* v = new QVBoxLayout(this);
  v->addLayout(top, 1);
  v->addWidget(buttons_);

  for (std::size_t i = 0; i < commands_.size(); ++i) {
    list_->addItem(QString());
    Relabel(static_cast<int>(i));
  }
  connect(list_, &QListWidget::currentRowChanged, this, &frmCommands::Show);
  for (QLineEdit* e : {title_, line_})
    connect(e, &QLineEdit::textEdited, this, [this] { Store(); });
  connect(applies_, &QComboBox::currentIndexChanged, this, [this] { Store(); });
  for (QCheckBox* c : {confirm_, refresh_, enabled_})
    connect(c, &QCheckBox::toggled, this, [this] { Store(); });
  connect(add_, &QPushButton::clicked, this, [this] {
    UserCommand c;
    c.Title = "New command";
    c.CommandLine = "ls -l {path}";
    commands_.push_back(c);
    list_->addItem(QString());
    Relabel(list_->count() - 1);
    list_->setCurrentRow(list_->count() - 1);
    title_->setFocus();
    title_->selectAll();
  });
  connect(remove_, &QPushButton::clicked, this, [this] {
    const int row = list_->currentRow();
    if (row < 0) return;
    commands_.erase(commands_.begin() + row);
    delete list_->takeItem(row);
    Show(list_->currentRow());
  });
  connect(up_, &QPushButton::clicked, this, [this] { Move(-1); });
  connect(down_, &QPushButton::clicked, this, [this] { Move(1); });

  list_->setCurrentRow(commands_.empty() ? -1 : 0);
  Show(list_->currentRow());
  InstallF12(this);
}

void frmCommands::Relabel(int row) {
  const UserCommand& c = commands_[static_cast<std::size_t>(row)];
  list_->item(row)->setText(Q(c.Title) + (c.Enabled ? "" : " (disabled)"));
}

void frmCommands::SyncEnabled() {
  const bool any = list_->currentRow() >= 0;
  for (QWidget* w : std::initializer_list<QWidget*>{title_, line_, applies_, confirm_, refresh_,
                                                    enabled_, remove_})
    w->setEnabled(any);
  up_->setEnabled(any && list_->currentRow() > 0);
  down_->setEnabled(any && list_->currentRow() + 1 < list_->count());
}

void frmCommands::Show(int row) {
  showing_ = true;
  if (row >= 0 && row < static_cast<int>(commands_.size())) {
    const UserCommand& c = commands_[static_cast<std::size_t>(row)];
    title_->setText(Q(c.Title));
    line_->setText(Q(c.CommandLine));
    applies_->setCurrentIndex(static_cast<int>(c.Applies));
    confirm_->setChecked(c.Confirm);
    refresh_->setChecked(c.RefreshAfter);
    enabled_->setChecked(c.Enabled);
  } else {
    title_->clear();
    line_->clear();
  }
  showing_ = false;
  SyncEnabled();
}

void frmCommands::Store() {
  const int row = list_->currentRow();
  if (showing_ || row < 0) return;
  UserCommand& c = commands_[static_cast<std::size_t>(row)];
  c.Title = S(title_->text());
  c.CommandLine = S(line_->text());
  c.Applies = static_cast<AppliesTo>(std::max(0, applies_->currentIndex()));
  c.Confirm = confirm_->isChecked();
  c.RefreshAfter = refresh_->isChecked();
  c.Enabled = enabled_->isChecked();
  Relabel(row);
}

void frmCommands::Move(int by) {
  const int row = list_->currentRow();
  const int to = row + by;
  if (row < 0 || to < 0 || to >= list_->count()) return;
  std::swap(commands_[static_cast<std::size_t>(row)], commands_[static_cast<std::size_t>(to)]);
  Relabel(row);
  Relabel(to);
  list_->setCurrentRow(to);
}

void frmCommands::accept() {
  for (std::size_t i = 0; i < commands_.size(); ++i) {
    if (const std::string why = CheckUserCommand(commands_[i]); !why.empty()) {
      list_->setCurrentRow(static_cast<int>(i));
      if (ShowMessage)
        ShowMessage(Q(why));
      else
        QMessageBox::warning(this, "Commands", Q(why));
      return;
    }
  }
  QDialog::accept();
}

}  // namespace kestrum::gui
