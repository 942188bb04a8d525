#pragma once
#include <QDialog>

#include "core/fileops/properties.h"

namespace kestrum::gui {

// Kestrum's own properties window for one file or folder, for when no file manager on the
// session bus shows one. Non-modal; Escape or "Close" closes it, and it frees itself then.
// It shows what it was given when it opened and never reads the model afterwards.
class frmProperties : public QDialog {
  Q_OBJECT
 public:
  explicit frmProperties(const PropertiesInfo& info, QWidget* parent = nullptr);
};

}  // namespace kestrum::gui
