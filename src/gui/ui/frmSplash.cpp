#include "gui/ui/frmSplash.h"

#include <QFrame>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>
#include <QVBoxLayout>

#include "gui/controls/icons.h"
#include "kestrum_version.h"

namespace kestrum::gui {

QString VersionText() {
  return QStringLiteral("Version %1.%2.%3")
      .arg(version::Major)
      .arg(version::Minor)
      .arg(version::Revision);
}

frmSplash::frmSplash(std::function<void()> handOver, QWidget* parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint), handOver_(std::move(handOver)) {
  setObjectName("frmSplash");
  setWindowTitle(version::Product);
  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 0);
  auto* frame = new QFrame(this);
  frame->setObjectName("fraMainFrame");
  frame->setFrameShape(QFrame::StyledPanel);
  frame->setStyleSheet(
      "#fraMainFrame { background: palette(base); border: 1px solid palette(mid); }");
  outer->addWidget(frame);
  auto* v = new QVBoxLayout(frame);
  v->setContentsMargins(32, 24, 32, 20);
  v->setSpacing(6);

  auto* logo = new QLabel(frame);
  logo->setObjectName("imgLogo");
  logo->setPixmap(IconFor(QString("HardDrive")).pixmap(64, 64));
  logo->setAlignment(Qt::AlignCenter);
  auto label = [&](const char* name, const QString& text, int pt, bool bold) {
    auto* l = new QLabel(text, frame);
    l->setObjectName(name);
    QFont f = l->font();
    if (pt) f.setPointSizeF(f.pointSizeF() * pt / 10.0);
    f.setBold(bold);
    l->setFont(f);
    l->setAlignment(Qt::AlignCenter);
    l->setWordWrap(true);
    return l;
  };
  v->addWidget(logo);
  v->addWidget(label("lblProductName", version::Product, 24, true));
  v->addWidget(label("lblVersion", VersionText(), 11, false));
  v->addSpacing(12);
  v->addWidget(label("lblCopyright", version::Copyright, 9, false));
  v->addWidget(label("lblCompany", version::Company, 9, false));
  statusLabel_ = label("StatusLabel", QString(), 9, false);
  v->addWidget(statusLabel_);
  for (QObject* child : frame->children())
    if (auto* w = qobject_cast<QWidget*>(child)) w->installEventFilter(this);
  frame->installEventFilter(this);

  setFixedWidth(440);
  adjustSize();
  if (const QScreen* s = QGuiApplication::primaryScreen())
    move(s->availableGeometry().center() - rect().center());

  timer_.setInterval(1000);
  timer_.setSingleShot(true);
  connect(&timer_, &QTimer::timeout, this, &frmSplash::Timer_Timer);
  timer_.start();
  setFocusPolicy(Qt::StrongFocus);
}

void frmSplash::Timer_Timer() {
  // A click and the timer can both arrive before the window is gone; hand over once.
  if (handedOver_) return;
  handedOver_ = true;
  statusLabel_->setText("Scanning Disks");
  timer_.stop();
  hide();
  if (handOver_) handOver_();
  deleteLater();
}

void frmSplash::mousePressEvent(QMouseEvent*) { Timer_Timer(); }

void frmSplash::keyPressEvent(QKeyEvent* e) {
  e->accept();  // the key is swallowed
  Timer_Timer();
}

bool frmSplash::eventFilter(QObject*, QEvent* event) {
  if (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::KeyPress) {
    Timer_Timer();
    return true;
  }
  return false;
}

}  // namespace kestrum::gui
