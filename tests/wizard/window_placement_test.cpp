// Where windows go: on the screen always, beside the wizard where there is room.
#include <gtest/gtest.h>

#include "platform/ui/window_placement.h"

using platform::ui::Beside;
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
