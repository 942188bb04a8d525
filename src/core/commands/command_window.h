#pragma once
#include <string>
#include <vector>

#include "core/commands/zip_command.h"
#include "core/tree/disk_model.h"

namespace kestrum {

// What the long commands (scan, folder scan, delete, trash, zip) need of the main window:
// the one interface they all talk through. The presenter implements it over the window;
// tests implement it with a recorder. Window thread only: workers reach the window thread
// through the slot's WindowQueue, never through this interface.
class CommandWindow {
 public:
  virtual ~CommandWindow() = default;
  virtual void SetStatus(const std::string& text) = 0;    // the "Status" panel
  virtual void ShowMessage(const std::string& text) = 0;  // OK box titled with the product
  // The warning box with OK and Cancel, titled with the product: text is the question,
  // details the expandable list of what will go. True for OK.
  virtual bool Confirm(const std::string& text, const std::string& details) = 0;
  virtual void SetTreeEnabled(bool enabled) = 0;
  virtual void ClearPathLabel() = 0;
  // Drops any listing still being read and clears the list: the model is about to change.
  virtual void ClearList() = 0;
  // Starts or stops the one-second timer that shows the slot's progress line.
  virtual void SetProgressTimer(bool running) = 0;
  // A command is over: the adapter's selection is already node (the first node, "My
  // Computer", for ShowRoot); the window shows it selected and expanded and lists it as the
  // tree's click does.
  virtual void ShowRoot() = 0;
  virtual void ShowNode(NodeId node) = 0;
  // Lists the node the list shows again, as the tree has it now; the listing writes the
  // status line, now or when its file rows arrive.
  virtual void Relist() = 0;
  // Writes again the status line of the listing shown: a command that changed nothing leaves
  // the list as it was.
  virtual void ShowListStatus() = 0;
  // A refresh has replaced nodes below a folder: the view follows the adapter, each node of
  // expanded is expanded again, and selected is selected and listed as the tree's click does
  // (without expanding it).
  virtual void ShowRefreshed(NodeId selected, const std::vector<NodeId>& expanded) = 0;
  // The modal zip window over request; true when it zipped anything.
  virtual bool RunZipWindow(ZipRequest request) = 0;
};

}  // namespace kestrum
