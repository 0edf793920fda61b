// The parameter-information list, the edit holder and Swap.
#include "plugin/framework/Swap.h"
#include "plugin/framework/TVstAudioEffect.h"
#include "plugin/framework/TVstParameterList.h"

#include <gtest/gtest.h>

TEST(VstParameterList, LabelsByIndexEmptyOutside) {
  TVstParameterList list;
  EXPECT_EQ(list.GetLabel(0), "");
  EXPECT_EQ(list.Add("dB"), 0);
  EXPECT_EQ(list.Add("%"), 1);
  EXPECT_EQ(list.GetLabel(0), "dB");
  EXPECT_EQ(list.GetLabel(1), "%");
  EXPECT_EQ(list.GetLabel(2), "");
  EXPECT_EQ(list.GetLabel(-1), "");
  EXPECT_EQ(list.Get(5), nullptr);
}

TEST(VstAudioEffect, CallsTheWiredMethodsOrAnswersFalse) {
  struct Host {
    int begun = -1, ended = -1;
    bool Begin(int32_t index) { begun = index; return true; }
    bool End(int32_t index) { ended = index; return true; }
  } host;
  TVstAudioEffect holder;
  EXPECT_FALSE(holder.BeginEdit(3));
  holder.OnBeginEdit = TVstAudioEffect::TEditMethod::Of<&Host::Begin>(&host);
  holder.OnEndEdit = TVstAudioEffect::TEditMethod::Of<&Host::End>(&host);
  EXPECT_TRUE(holder.BeginEdit(3));
  EXPECT_TRUE(holder.EndEdit(4));
  EXPECT_EQ(host.begun, 3);
  EXPECT_EQ(host.ended, 4);
}

TEST(Swap, ExchangesTwoValues) {
  int32_t a = -5, b = INT32_MAX;
  Swap(a, b);
  EXPECT_EQ(a, INT32_MAX);
  EXPECT_EQ(b, -5);
}
