// Probes of a reader who wrote none of this round's scene mends, in a real scene window under
// Wine in the default style: each fails on the code as it stands.
#include "SceneWindowFixture.h"
#include "scene/widgets/vg_listbox.h"

namespace {

class AttackProbesWindowTest : public SceneWindowFixture {};

// Rule: the closed box shows what a whole repaint of it shows. A change to Items that keeps the
// selected item (its line put anew, the lines sorted) parks the selection and sets it back, which
// starts the item's selection animation; the box is repainted once, at the animation's first
// frame, and never again: its text stays in the colour of that frame.
TEST_F(AttackProbesWindowTest, AClosedComboShowsItsItemAsAWholeRepaintDoes) {
  auto* combo = Add<TvgStringComboBox>(20, 20, 150, 22);
  for (const char16_t* t : {u"red", u"green", u"blue"}) combo->GetItems()->Add(t);
  combo->SetItemIndex(1);
  Settle(400);
  for (const char* change : {"put", "sort"}) {
    if (change[0] == 'p') combo->GetItems()->Put(1, u"yellow");
    else combo->GetItems()->Sort();
    Settle(400);  // well past the item's animation (0.15 s)
    const TWindowPixels shown = Pixels();
    InvalidateRect(Window(), nullptr, FALSE);
    const TWindowPixels whole = Pixels();
    int differ = 0;
    for (int y = 20; y < 42; ++y)
      for (int x = 20; x < 170; ++x) differ += shown.At(x, y) != whole.At(x, y) ? 1 : 0;
    EXPECT_EQ(differ, 0) << change;
  }
}

}  // namespace
