#include "gui/app/file_commands.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QMessageBox>
#include <QPushButton>
#include <QTreeView>

#include "gui/controls/text.h"
#include "gui/ui/frmProperties.h"
#include "kestrum_version.h"

namespace kestrum::gui {

FileCommands::FileCommands(QWidget* window, QTreeView* list, MainPresenter& presenter,
                           CommandSlot& slot, std::function<void(const std::string&)> setStatus,
                           std::function<void(const std::string&)> showMessage,
                           std::function<void(bool)> setProgressTimer)
    : window_(window),
      list_(list),
      presenter_(presenter),
      setStatus_(std::move(setStatus)),
      showMessage_(std::move(showMessage)),
      setProgressTimer_(std::move(setProgressTimer)),
      command_(*this, presenter.Explorer(), presenter.List(), slot) {
  ListedNode = [this] { return presenter_.SelectedNode(); };
  command_.DiskList = [this] { return presenter_.DiskList(); };
  command_.Relist = [this] {
    if (presenter_.OnRefreshList) presenter_.OnRefreshList();
  };
}

void FileCommands::DeleteFiles(const std::string& action) {
  command_.DeleteFiles(action, ListedNode(), presenter_.ListingPending());
}

bool FileCommands::Confirm(const std::string& text, const std::string& details) {
  QMessageBox box(QMessageBox::Warning, version::Product, DisplayText(text),
                  QMessageBox::Ok | QMessageBox::Cancel, window_);
  box.setObjectName("ConfirmDelete");
  box.setDefaultButton(QMessageBox::Ok);
  box.setEscapeButton(QMessageBox::Cancel);
  box.setDetailedText(DisplayText(details));
  box.setAccessibleName("Confirm");
  return box.exec() == QMessageBox::Ok;
}

void FileCommands::Properties() {
  const QModelIndex current = list_ ? list_->currentIndex() : QModelIndex();
  if (!current.isValid()) return;
  const auto target = PropertiesTarget(presenter_.List(), presenter_.Explorer(), ListedNode(),
                                       static_cast<std::size_t>(current.row()) + 1);
  if (target) ShowProperties(*target);
}

void FileCommands::ShowProperties(const FileTarget& target) {
  const std::string uri = FileUri(target.FullPath);
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!UseSessionBus || uri.empty() || !bus.isConnected()) {
    ShowOwnProperties(target);
    return;
  }
  QDBusMessage call = QDBusMessage::createMethodCall(
      "org.freedesktop.FileManager1", "/org/freedesktop/FileManager1",
      "org.freedesktop.FileManager1", "ShowItemProperties");
  call << QStringList{QString::fromLatin1(uri.c_str())} << QString();
  auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 5000), this);
  // The window reads the object when the answer comes; the folder's model object may be
  // gone by then (a rescan), so keep only what the window needs now.
  PropertiesInfo info = ReadProperties(target);
  connect(watcher, &QDBusPendingCallWatcher::finished, this,
          [this, info = std::move(info)](QDBusPendingCallWatcher* w) {
            w->deleteLater();
            if (!w->isError()) return;  // a file manager shows its own sheet
            auto* f = new frmProperties(info, window_);
            f->setWindowFlag(Qt::Window);
            f->show();
            LastPropertiesWindow = f;
          });
}

void FileCommands::ShowOwnProperties(const FileTarget& target) {
  auto* f = new frmProperties(ReadProperties(target), window_);
  f->setWindowFlag(Qt::Window);
  f->show();
  LastPropertiesWindow = f;
}

}  // namespace kestrum::gui
