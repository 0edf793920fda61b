// Forms linked into the module as resources by the build step load through a resource stream.
#include "classlib/ResourceStream.h"

#include <gtest/gtest.h>

#include <memory>

#include "TestClasses.h"
#include "classlib/Filer.h"
#include "classlib/FormText.h"

#ifdef _WIN32
TEST(ResourceStream, FormLinkedByTheBuildStepLoads) {
  RegisterTestClasses();
  ASSERT_TRUE(TResourceStream::Exists("TESTFORM"));
  TResourceStream stream("TESTFORM");
  EXPECT_EQ(TestStreamFormat(stream), sofBinary);
  std::unique_ptr<TComponent> root(ReadComponentFromStream(stream, nullptr));
  auto* form = dynamic_cast<TTestForm*>(root.get());
  ASSERT_NE(form, nullptr);
  EXPECT_EQ(form->GetTag(), 5);
  auto* knob = dynamic_cast<TTestWidget*>(form->FindComponent("Knob"));
  auto* other = dynamic_cast<TTestWidget*>(form->FindComponent("Other"));
  ASSERT_TRUE(knob && other);
  EXPECT_EQ(knob->Caption, "from the module!");
  EXPECT_EQ(knob->Colors, TTestColors{tcGreen});
  EXPECT_EQ(knob->GetBuddy(), other);
  EXPECT_EQ(other->Ratio, 0.125);
  knob->OnClick(knob);
  EXPECT_EQ(form->clicks, 1);
}
#endif

TEST(ResourceStream, MissingResourceRaises) {
  EXPECT_FALSE(TResourceStream::Exists("NO_SUCH_FORM"));
  try {
    TResourceStream stream("NO_SUCH_FORM");
    FAIL();
  } catch (const EResNotFound& e) {
    EXPECT_EQ(e.Message(), "Resource NO_SUCH_FORM not found");
  }
}
