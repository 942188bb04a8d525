#include "gui/ui/frmCompare.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QVBoxLayout>

#include "core/rows/list_cells.h"
#include "gui/ui/FunctionKeys.h"

namespace kestrum::gui {

namespace {

QString Q(const std::string& s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

// The local date and time of a kept scan, to the second.
QString DateOf(std::int64_t when) {
  const auto t = static_cast<std::time_t>(when);
  std::tm local{};
  ::localtime_r(&t, &local);
  char buf[32];
  const std::size_t n = std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &local);
  return QString::fromLatin1(buf, static_cast<qsizetype>(n));
}

std::string FileDialog(QWidget* owner) {
  const QString f = QFileDialog::getOpenFileName(
      owner, "Compare With a Saved Scan", QDir::homePath(),
      "Saved scans (*.json *.json.gz *.json.zst *.gz *.zst);;All files (*)");
  return f.isEmpty() ? std::string() : QFile::encodeName(f).toStdString();
}

}  // namespace

frmCompare::frmCompare(const CompareOffer& offer, QWidget* owner, AskFile ask)
    : QDialog(owner), offer_(offer), ask_(ask ? std::move(ask) : AskFile(FileDialog)) {
  setObjectName("frmCompare");
  setWindowTitle("Compare With");
  if (owner) setWindowIcon(owner->windowIcon());

  auto* intro = new QLabel(this);
  intro->setObjectName("lblEarlier");
  intro->setWordWrap(true);
  intro->setTextFormat(Qt::PlainText);
  intro->setText(offer_.Earlier.empty()
                     ? "No earlier scan of " + Q(offer_.Root) + " is kept in the history."
                     : "&Earlier scans of " + Q(offer_.Root) + ":");
  list_ = new QTreeWidget(this);
  list_->setObjectName("lstScans");
  list_->setAccessibleName("Earlier scans");
  list_->setRootIsDecorated(false);
  list_->setColumnCount(2);
  list_->setHeaderLabels({"Date", "Saved size"});
  list_->header()->setStretchLastSection(false);
  list_->header()->setSectionResizeMode(0, QHeaderView::Stretch);
  QTreeWidgetItem* first = nullptr;  // the newest scan that is not the one shown
  for (const HistoryEntry& e : offer_.Earlier) {
    const bool shown = !offer_.ThisScan.empty() && e.File == offer_.ThisScan;
    auto* item = new QTreeWidgetItem(
        list_, {DateOf(e.Time) + (shown ? " (this scan)" : ""),
                Q(SizeText(static_cast<double>(e.Bytes)))});
    item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
    if (!shown && !first) first = item;
  }
  if (first || list_->topLevelItemCount() > 0)
    list_->setCurrentItem(first ? first : list_->topLevelItem(0));
  list_->setEnabled(!offer_.Earlier.empty());
  intro->setBuddy(list_);

  auto* current = new QLabel(this);
  current->setObjectName("lblCurrent");
  current->setTextFormat(Qt::PlainText);
  current->setWordWrap(true);
  current->setText(offer_.Current.empty() ? QString("Not comparing now.")
                                          : "Compared now with " + Q(offer_.Current) + ".");

  compare_ = new QPushButton("&Compare", this);
  compare_->setObjectName("cmdCompare");
  compare_->setEnabled(!offer_.Earlier.empty());
  compare_->setDefault(!offer_.Earlier.empty());
  file_ = new QPushButton("Choose &File...", this);
  file_->setObjectName("cmdFile");
  none_ = new QPushButton("&None", this);
  none_->setObjectName("cmdNone");
  none_->setToolTip("Stop comparing");
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
  buttons->addButton(compare_, QDialogButtonBox::AcceptRole);
  buttons->addButton(file_, QDialogButtonBox::ActionRole);
  buttons->addButton(none_, QDialogButtonBox::ActionRole);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(compare_, &QPushButton::clicked, this, &frmCompare::CompareSelected);
  connect(list_, &QTreeWidget::itemActivated, this, [this] { CompareSelected(); });
  connect(file_, &QPushButton::clicked, this, &frmCompare::ChooseFile);
  connect(none_, &QPushButton::clicked, this, [this] {
    choice_ = {CompareChoice::Kind::None, {}, {}};
    accept();
  });

  auto* v = new QVBoxLayout(this);
  v->addWidget(intro);
  v->addWidget(list_);
  v->addWidget(current);
  v->addWidget(buttons);
  resize(fontMetrics().averageCharWidth() * 60, sizeHint().height());
  InstallF12(this);
}

void frmCompare::CompareSelected() {
  const int row = list_->indexOfTopLevelItem(list_->currentItem());
  if (row < 0 || static_cast<std::size_t>(row) >= offer_.Earlier.size()) return;
  const HistoryEntry& e = offer_.Earlier[static_cast<std::size_t>(row)];
  choice_ = {CompareChoice::Kind::File, e.File, HistoryLabel(static_cast<std::time_t>(e.Time))};
  accept();
}

void frmCompare::ChooseFile() {
  const std::string file = ask_(this);
  if (file.empty()) return;
  choice_ = {CompareChoice::Kind::File, file, {}};
  accept();
}

}  // namespace kestrum::gui
