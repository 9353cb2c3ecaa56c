#include "platform/ui/window_placement.h"

#include <QGuiApplication>
#include <QScreen>

#include <algorithm>

namespace platform::ui {

QRect KeepOnScreen(QRect frame, const QRect& screen) {
  const int x = std::max(screen.left(), std::min(frame.left(), screen.right() + 1 - frame.width()));
  const int y = std::max(screen.top(), std::min(frame.top(), screen.bottom() + 1 - frame.height()));
  frame.moveTo(x, y);
  return frame;
}

QRect CentredOn(const QSize& size, const QRect& screen) {
  QRect frame(QPoint(0, 0), size);
  frame.moveCenter(screen.center());
  return KeepOnScreen(frame, screen);
}

QRect Beside(const QRect& anchor, const QSize& size, const QRect& screen) {
  constexpr int kGap = 8;
  QRect right(QPoint(anchor.right() + 1 + kGap, anchor.top()), size);
  if (screen.contains(right)) return right;
  QRect left(QPoint(anchor.left() - kGap - size.width(), anchor.top()), size);
  if (screen.contains(left)) return left;
  // No room on either side: the side with more room, at the top of the screen, so that the
  // anchor's bottom row (its buttons) stays in sight below a window shorter than the anchor.
  const int roomRight = screen.right() - anchor.right();
  const int roomLeft = anchor.left() - screen.left();
  QRect chosen = roomRight >= roomLeft ? right : left;
  chosen.moveTop(screen.top());
  return KeepOnScreen(chosen, screen);
}

QRect AvailableScreenArea(const QWidget* window) {
  const QScreen* screen = window != nullptr && window->screen() != nullptr
                              ? window->screen()
                              : QGuiApplication::primaryScreen();
  return screen != nullptr ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
}

QSize FrameSizeOf(const QWidget* window) {
  const QSize framed = window->frameGeometry().size();
  if (framed != window->size()) return framed;
  return window->size() + QSize(8, 36);
}

}  // namespace platform::ui
