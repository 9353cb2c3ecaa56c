#include "wizard/frmSplash.h"

#include <QEvent>
#include <QLinearGradient>
#include <QPainter>
#include <QVBoxLayout>

#include "options/page_rules.h"
#include "platform/files.h"

namespace wizard {
namespace {

QPixmap SplashPicture() {
  QPixmap picture(346, 174);
  QPainter p(&picture);
  QLinearGradient sky(0, 0, 346, 174);
  sky.setColorAt(0, QColor(18, 52, 96));
  sky.setColorAt(1, QColor(64, 140, 190));
  p.fillRect(picture.rect(), sky);
  p.setPen(Qt::white);
  p.setFont(QFont("Sans", 22, QFont::Bold));
  p.drawText(QRect(0, 40, 346, 50), Qt::AlignCenter, "Norvane");
  p.setFont(QFont("Sans", 12));
  p.drawText(QRect(0, 95, 346, 30), Qt::AlignCenter, "Migration Wizard for Microsoft Access");
  return picture;
}

}  // namespace

frmSplash::frmSplash(PageFlow& flow) : flow_(flow) {
  setObjectName("frmSplash");
  setWindowFlags(Qt::SplashScreen | Qt::FramelessWindowHint);
  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 0);
  frame1_ = new QFrame;
  frame1_->setObjectName("Frame1");
  frame1_->setFrameShape(QFrame::Box);
  auto* inner = new QVBoxLayout(frame1_);
  inner->setContentsMargins(8, 8, 8, 8);
  image1_ = new QLabel;
  image1_->setObjectName("Image1");
  image1_->setPixmap(SplashPicture());
  image1_->setAttribute(Qt::WA_NoMousePropagation);  // a click on the picture does nothing
  inner->addWidget(image1_);
  outer->addWidget(frame1_);
  frame1_->installEventFilter(this);

  timer1_ = new QTimer(this);
  timer1_->setObjectName("Timer1");
  timer1_->setSingleShot(true);
  timer1_->setInterval(3000);
  connect(timer1_, &QTimer::timeout, this, &frmSplash::TimerFired);
  timer1_->start();
}

void frmSplash::TimerFired() {
  flow_.settings().AppFolder = platform::files::CurrentDirectory();
  flow_.services().dialogs.RegisterProgramHelp(HelpFilePath(flow_.settings()));
  flow_.Show(PageId::Option);
  close();
}

bool frmSplash::eventFilter(QObject* watched, QEvent* event) {
  // Only the frame's margin reaches here: the picture keeps its clicks.
  if (watched == frame1_ && event->type() == QEvent::MouseButtonPress) {
    timer1_->stop();
    close();
    flow_.services().programEnd.EndProgram();
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace wizard
