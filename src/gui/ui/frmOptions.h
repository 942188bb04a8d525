#pragma once
#include <QDialog>
#include <QGroupBox>
#include <QPushButton>

namespace kestrum::gui {

// The options window: a frame "Zip Options" with nothing in it yet and two buttons that
// close it storing nothing. Nothing in the program opens it.
class frmOptions : public QDialog {
  Q_OBJECT
 public:
  explicit frmOptions(QWidget* parent = nullptr);
  QGroupBox* Frame1() const { return frame_; }
  QPushButton* OKButton() const { return ok_; }
  QPushButton* CancelButton() const { return cancel_; }

  void OKButton_Click() { close(); }
  void CancelButton_Click() { close(); }

 private:
  QGroupBox* frame_;
  QPushButton* ok_;
  QPushButton* cancel_;
};

}  // namespace kestrum::gui
