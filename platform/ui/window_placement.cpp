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

QRect BesideUncovered(const QRect& anchor, QSize size, const QRect& screen, QSize minimum,
                      int drop) {
  constexpr int kGap = 8;
  size = size.boundedTo(screen.size());
  const int top = anchor.top() + drop;
  const int roomRight = screen.right() - anchor.right() - kGap;
  const int roomLeft = anchor.left() - screen.left() - kGap;
  const auto side = [&](bool right, int width) {
    QRect frame(QPoint(0, top), QSize(width, size.height()));
    frame.moveLeft(right ? anchor.right() + 1 + kGap : anchor.left() - kGap - width);
    // Kept on the screen upwards only: it never slides sideways onto the anchor. A dropped
    // window is shortened first, so that it stays below the one before it.
    if (drop > 0 && frame.bottom() > screen.bottom())
      frame.setBottom(std::max(screen.bottom(), frame.top() + minimum.height() - 1));
    if (frame.bottom() > screen.bottom()) frame.moveBottom(screen.bottom());
    if (frame.top() < screen.top()) frame.moveTop(screen.top());
    return frame;
  };
  if (roomRight >= size.width()) return side(true, size.width());
  if (roomLeft >= size.width()) return side(false, size.width());
  const bool right = roomRight >= roomLeft;
  if (std::max(roomRight, roomLeft) >= minimum.width())
    return side(right, std::max(roomRight, roomLeft));
  const int roomBelow = screen.bottom() - anchor.bottom() - kGap;
  const int roomAbove = anchor.top() - screen.top() - kGap;
  if (std::max(roomBelow, roomAbove) >= minimum.height()) {
    const int height = std::min(size.height(), std::max(roomBelow, roomAbove));
    QRect frame(QPoint(anchor.left(), 0), QSize(size.width(), height));
    frame.moveTop(roomBelow >= roomAbove ? anchor.bottom() + 1 + kGap
                                         : anchor.top() - kGap - height);
    frame.moveLeft(
        std::max(screen.left(), std::min(frame.left(), screen.right() + 1 - frame.width())));
    return frame;
  }
  return {};
}

void PlaceBeside(QWidget& window, QWidget& page, int slot) {
  constexpr QSize kMinimum(360, 220);
  constexpr int kDrop = 40;
  const QRect screen = AvailableScreenArea(&page);
  const QSize frameExtra = FrameSizeOf(&window) - window.size();
  const QSize wanted = FrameSizeOf(&window);
  QRect anchor = page.frameGeometry();
  QRect place = BesideUncovered(anchor, wanted, screen, kMinimum, slot * kDrop);
  if (place.isEmpty() || place.width() < wanted.width()) {
    // The page steps aside to the edge it is nearer, when that gives the window its room.
    QRect moved = anchor;
    const bool toLeft = anchor.left() - screen.left() <= screen.right() - anchor.right();
    if (toLeft)
      moved.moveLeft(screen.left());
    else
      moved.moveRight(screen.right());
    const QRect there = BesideUncovered(moved, wanted, screen, kMinimum, slot * kDrop);
    // Only for real room: a page a few pixels from the edge stays where the user left it.
    constexpr int kWorthMoving = 32;
    if (!there.isEmpty() && (place.isEmpty() || there.width() > place.width() + kWorthMoving)) {
      page.move(page.pos() + (moved.topLeft() - anchor.topLeft()));
      anchor = moved;
      place = there;
    }
  }
  if (place.isEmpty()) place = Beside(anchor, wanted, screen);  // a tiny screen: on top of it
  window.resize(place.size() - frameExtra);
  window.move(place.topLeft());
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
