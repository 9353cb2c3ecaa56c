// The splash window: three seconds, then the options page; a click on its frame ends the program.
#pragma once

#include <QFrame>
#include <QLabel>
#include <QTimer>
#include <QWidget>

#include "wizard/page_flow.h"

namespace wizard {

class frmSplash : public QWidget {
  Q_OBJECT
 public:
  explicit frmSplash(PageFlow& flow);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void TimerFired();

  PageFlow& flow_;
  QFrame* frame1_;
  QLabel* image1_;
  QTimer* timer1_;
};

}  // namespace wizard
