#pragma once
#include <QLabel>
#include <QTimer>
#include <QWidget>
#include <functional>

namespace kestrum::gui {

// The start-up window: product name, version, legal notice and company. It hands over to
// the main window after one second or at the first click or key, exactly once.
class frmSplash : public QWidget {
  Q_OBJECT
 public:
  // handOver is called once, when the splash gives way; it shows the main window.
  explicit frmSplash(std::function<void()> handOver, QWidget* parent = nullptr);

  // Hands over now (what the timer, every click and every key do).
  void Timer_Timer();
  bool HandedOver() const { return handedOver_; }
  QLabel* StatusLabel() const { return statusLabel_; }

 protected:
  void mousePressEvent(QMouseEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  std::function<void()> handOver_;
  QTimer timer_;
  QLabel* statusLabel_;
  bool handedOver_ = false;
};

// "Version " + major + "." + minor + "." + revision.
QString VersionText();

}  // namespace kestrum::gui
