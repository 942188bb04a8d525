#pragma once
#include <QObject>
#include <QPointer>
#include <functional>
#include <string>

#include "core/fileops/delete_files.h"
#include "core/fileops/properties.h"
#include "core/views/main_presenter.h"

class QTreeView;
class QWidget;

namespace kestrum::gui {

// The main window's side of delete, trash and properties: the confirmation box, messages
// and the progress timer for DeleteFilesCommand, and the properties request on the session
// bus with Kestrum's own window when no file manager answers. Window thread only.
class FileCommands : public QObject, public FileOpsWindow {
  Q_OBJECT
 public:
  // window: the owner of boxes; list: the list view (its current row is the properties
  // command's row). The presenter and the slot must outlive this object; destroying it
  // stops and waits for a running command and drops what it has not reported yet.
  FileCommands(QWidget* window, QTreeView* list, MainPresenter& presenter, CommandSlot& slot,
               std::function<void(const std::string&)> setStatus,
               std::function<void(const std::string&)> showMessage,
               std::function<void(bool)> setProgressTimer);

  // "Delete" or "Recycle", on the rows selected now.
  void DeleteFiles(const std::string& action);
  // The properties command: the current row's object, or nothing without one.
  void Properties();
  // Asks a file manager on the session bus to show the properties of path; when none
  // answers, opens Kestrum's own window with info.
  void ShowProperties(const FileTarget& target);

  DeleteFilesCommand& Command() { return command_; }
  // The node the list shows; the presenter's SelectedNode unless a test says otherwise.
  std::function<NodeId()> ListedNode;
  // False makes ShowProperties skip the session bus (tests, or no bus).
  bool UseSessionBus = true;
  // The last properties window opened by Kestrum itself (null once closed).
  QPointer<QWidget> LastPropertiesWindow;

  // FileOpsWindow
  bool Confirm(const std::string& text, const std::string& details) override;
  void ShowMessage(const std::string& text) override { showMessage_(text); }
  void SetStatus(const std::string& text) override { setStatus_(text); }
  void SetProgressTimer(bool running) override { setProgressTimer_(running); }

 private:
  void ShowOwnProperties(const FileTarget& target);

  QWidget* window_;
  QTreeView* list_;
  MainPresenter& presenter_;
  std::function<void(const std::string&)> setStatus_, showMessage_;
  std::function<void(bool)> setProgressTimer_;
  DeleteFilesCommand command_;
};

}  // namespace kestrum::gui
