// Method pointers call the bound member and compare by object and member.
#include "classlib/Methods.h"

#include <gtest/gtest.h>

namespace {
struct Counter {
  int hits = 0;
  int last = 0;
  void Add(int n) { hits++, last = n; }
  void Other(int n) { last = -n; }
};
}  // namespace

TEST(Method, CallsAndComparesByObjectAndMember) {
  Counter a, b;
  auto addA = TMethod<void(int)>::Of<&Counter::Add>(&a);
  addA(5);
  EXPECT_EQ(a.hits, 1);
  EXPECT_EQ(a.last, 5);
  EXPECT_TRUE(addA == TMethod<void(int)>::Of<&Counter::Add>(&a));
  EXPECT_FALSE(addA == TMethod<void(int)>::Of<&Counter::Add>(&b));
  EXPECT_FALSE(addA == TMethod<void(int)>::Of<&Counter::Other>(&a));
  TMethod<void(int)> none;
  EXPECT_FALSE(none.Assigned());
  none(3);  // an unassigned method does nothing
  EXPECT_TRUE(none == nullptr);
  TMethod<int()> noneWithResult;
  EXPECT_EQ(noneWithResult(), 0);
}
