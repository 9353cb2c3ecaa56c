// Where windows go: on the screen always, beside the wizard where there is room.
#include <gtest/gtest.h>

#include "platform/ui/window_placement.h"

using platform::ui::Beside;
using platform::ui::BesideUncovered;
using platform::ui::CentredOn;
using platform::ui::KeepOnScreen;

namespace {
const QRect kScreen(0, 0, 1024, 768);
}

TEST(WindowPlacement, keep_on_screen_moves_a_frame_back_from_every_edge) {
  struct Case {
    QRect frame;
    QPoint expected;
  } cases[] = {
      {{361, 575, 568, 372}, {361, 396}},  // ran off the bottom
      {{900, 10, 300, 200}, {724, 10}},    // off the right
      {{-50, -20, 300, 200}, {0, 0}},      // off the top left
      {{100, 100, 300, 200}, {100, 100}},  // inside: unchanged
      {{500, 500, 1200, 900}, {0, 0}},     // larger than the screen: its top left corner
  };
  for (const auto& c : cases) {
    const QRect moved = KeepOnScreen(c.frame, kScreen);
    EXPECT_EQ(moved.topLeft(), c.expected) << c.frame.x() << "," << c.frame.y();
    EXPECT_EQ(moved.size(), c.frame.size());
  }
  EXPECT_EQ(KeepOnScreen({10, 800, 100, 100}, {0, 24, 1024, 744}).y(), 668);  // below a panel
}

TEST(WindowPlacement, centred_and_beside) {
  EXPECT_EQ(CentredOn({568, 416}, kScreen), QRect(228, 176, 568, 416));
  const QRect page(100, 150, 400, 300);
  EXPECT_EQ(Beside(page, {300, 200}, kScreen), QRect(508, 150, 300, 200));  // right
  const QRect rightPage(600, 150, 400, 300);
  EXPECT_EQ(Beside(rightPage, {300, 200}, kScreen), QRect(292, 150, 300, 200));  // left
  // No room on either side: the roomier side, at the top, leaving the page's bottom in sight.
  const QRect centred(228, 176, 568, 416);
  const QRect wide = Beside(centred, {648, 396}, kScreen);
  EXPECT_TRUE(kScreen.contains(wide));
  EXPECT_EQ(wide.top(), 0);
  EXPECT_LT(wide.bottom(), centred.bottom() - 40);
}

TEST(WindowPlacement, beside_uncovered_never_lies_on_the_anchor) {
  const QSize minimum(360, 220);
  // Room on the right: there, at full size; a later window of a kind a little lower.
  const QRect left(0, 100, 568, 416);
  EXPECT_EQ(BesideUncovered(left, {400, 300}, kScreen, minimum), QRect(576, 100, 400, 300));
  EXPECT_EQ(BesideUncovered(left, {400, 300}, kScreen, minimum, 40), QRect(576, 140, 400, 300));
  // Too wide for either side: narrowed to the roomier one, never onto the anchor.
  const QRect wide = BesideUncovered(left, {800, 440}, kScreen, minimum);
  EXPECT_EQ(wide, QRect(576, 100, 448, 440));
  // Dropped past the bottom: shortened (it stays below the window before it), never sideways.
  const QRect low = BesideUncovered(left, {400, 700}, kScreen, minimum, 80);
  EXPECT_EQ(low, QRect(576, 180, 400, 588));
  // Dropped so far that the rest would be too short: moved up.
  EXPECT_EQ(BesideUncovered(left, {400, 300}, kScreen, minimum, 600).bottom(), kScreen.bottom());
  EXPECT_FALSE(low.intersects(left));
  // A centred page leaves neither side the minimum: below or above it, shortened.
  const QRect centred(228, 176, 568, 416);
  EXPECT_TRUE(BesideUncovered(centred, {648, 396}, kScreen, {360, 120}).top() > centred.bottom());
  EXPECT_TRUE(BesideUncovered(centred, {648, 396}, kScreen, {360, 400}).isEmpty());
  for (const QSize size : {QSize(300, 200), QSize(648, 396), QSize(1200, 900)}) {
    const QRect r = BesideUncovered(centred, size, kScreen, {200, 100});
    EXPECT_FALSE(r.intersects(centred)) << size.width();
    EXPECT_TRUE(r.isEmpty() || kScreen.contains(r)) << size.width();
  }
}
