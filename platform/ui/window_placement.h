// Where the wizard's windows go on the screen: the first page centred, every later page where
// the one before it was, command windows beside the page, and nothing past the screen's edge.
//
// Owns: nothing; plain geometry on frame rectangles (window with its title bar and border).
// Failures: none. A window larger than the screen is put at the screen's top left corner.
#pragma once

#include <QRect>
#include <QWidget>

namespace platform::ui {

// `frame` moved (not resized) so that it lies inside `screen` wherever it fits.
QRect KeepOnScreen(QRect frame, const QRect& screen);

// A frame of `size` centred on `screen`.
QRect CentredOn(const QSize& size, const QRect& screen);

// A frame of `size` to the right of `anchor`, else to its left (top-aligned with the anchor);
// where neither fits, on the side with more room at the top of the screen.
QRect Beside(const QRect& anchor, const QSize& size, const QRect& screen);

// A frame beside `anchor` that never covers it: of `size` to the right, else to the left; else
// on the side with more room, narrowed to that room (not below `minimum`); else below or above,
// shortened to the room there. `drop` moves it down from the anchor's top (later windows of a
// kind, so that they do not lie on each other). An empty rectangle when nothing fits.
QRect BesideUncovered(const QRect& anchor, QSize size, const QRect& screen, QSize minimum,
                      int drop = 0);

// Puts the top-level `window` beside the top-level `page` so that it never covers it (see
// BesideUncovered), narrowing it where needed; where the screen has no room beside the page,
// the page moves to the screen's edge first. The `slot`-th window of a kind drops a little.
void PlaceBeside(QWidget& window, QWidget& page, int slot = 0);

// The available area of the screen `window` is on (or of the primary screen).
QRect AvailableScreenArea(const QWidget* window);

// The size of a top-level window with its frame: as the window manager framed it, or before
// that with room for a usual title bar and border.
QSize FrameSizeOf(const QWidget* window);

}  // namespace platform::ui
