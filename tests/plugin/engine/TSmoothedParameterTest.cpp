// The one-pole smoother: jumps, glides and the per-sample step.
#include "plugin/engine/TSmoothedParameter.h"

#include <gtest/gtest.h>

TEST(SmoothedParameter, JumpAndGlide) {
  TSmoothedParameter p;
  EXPECT_FLOAT_EQ(p.Coefficient(), 20.0f / 44100.0f);
  p.SetValue(false, 0.8f);
  EXPECT_EQ(p.Current(), 0.8f);
  EXPECT_EQ(p.Target(), 0.8f);
  p.SetValue(true, 0.0f);
  EXPECT_EQ(p.Current(), 0.8f);  // a glide leaves the value in use alone
  EXPECT_EQ(p.Value(), 0.0f);
  EXPECT_EQ(p.Target(), 0.0f);
}

TEST(SmoothedParameter, EachStepCoversTheCoefficientOfTheDistance) {
  TSmoothedParameter p;
  p.SetCoefficient(0.25f);
  p.SetValue(false, 1.0f);
  p.SetValue(true, 0.0f);
  EXPECT_FLOAT_EQ(p.Advance(), 0.75f);
  EXPECT_FLOAT_EQ(p.Advance(), 0.5625f);
  p.SetValue(true, 1.0f);
  EXPECT_FLOAT_EQ(p.Advance(), 0.5625f + 0.4375f * 0.25f);
}
