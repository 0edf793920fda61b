// The arithmetic the plug-in relies on: float expressions evaluate in float (SSE), not in the
// x87's extended precision, so results do not depend on register spills or the host's FPU mode.
#include <gtest/gtest.h>

#include <cfloat>
#include <cstdint>
#include <cstring>

static_assert(FLT_EVAL_METHOD == 0, "float arithmetic must be evaluated in float (build with -mfpmath=sse)");

namespace {
// Kept out of line so the compiler cannot fold the arithmetic at compile time.
__attribute__((noinline)) float AddThenSubtract(float big, float small) { return (big + small) - big; }
__attribute__((noinline)) float Product(float a, float b, float c) { return a * b / c; }
}  // namespace

TEST(Toolchain, FloatExpressionsRoundAtEveryStep) {
  // 2^24 + 1 is not a float: rounded at once it vanishes; kept in extended precision it survives.
  EXPECT_EQ(AddThenSubtract(16777216.0f, 1.0f), 0.0f);
  // 1e30 * 1e30 overflows a float: with float evaluation the quotient is infinite.
  EXPECT_TRUE(Product(1e30f, 1e30f, 1e30f) > FLT_MAX);
}

#ifdef _WIN32
TEST(Toolchain, PointersAndLongAreThirtyTwoBits) {
  EXPECT_EQ(sizeof(void*), 4u);
  EXPECT_EQ(sizeof(long), 4u);
}
#endif
