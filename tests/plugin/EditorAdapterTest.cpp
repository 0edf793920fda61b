// The host adapter's editor object through the editor services: the vector GUI from the first
// editor window to the last editor object (none for plug-ins whose editor never opens), the order
// of the form's calls on open, idle and close, and an open whose GUI or form cannot be made.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "plugin/framework/rkEditorServices.h"
#include "plugin/framework/rkVstAdapter.h"

namespace {

std::vector<std::string> calls;
bool failCreate = false;
bool failStart = false;  // starting the GUI raises
bool windowGone = false;  // the host destroyed the form's window
TPluginGui* const kForm = reinterpret_cast<TPluginGui*>(0x1000);

const TrkEditorServices kServices = {
    [] {
      if (failStart) throw Exception("no GUI");
      calls.push_back("start gui");
    },
    [] { calls.push_back("stop gui"); },
    [](void*) -> TPluginGui* {
      if (failCreate) throw Exception("no form");
      calls.push_back("create");
      return kForm;
    },
    [](TPluginGui*, TrkPlugin* plugin) { calls.push_back(plugin ? "link" : "unlink"); },
    [](TPluginGui*) { calls.push_back("start updates"); },
    [](TPluginGui*) { calls.push_back("stop updates"); },
    [](TPluginGui*) { calls.push_back("update"); },
    [](TPluginGui*) { calls.push_back("show"); },
    [](TPluginGui*) { calls.push_back("free"); },
    [](TPluginGui*) -> void* { return windowGone ? nullptr : reinterpret_cast<void*>(0x3000); },
};

VstIntPtr VSTCALLBACK Host(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) {
  return opcode == audioMasterVersion ? 2400 : 0;
}

class EditorAdapterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    calls.clear();
    failCreate = false;
    failStart = false;
    windowGone = false;
    SetEditorServices(&kServices);
  }
  void TearDown() override { SetEditorServices(nullptr); }
  static VstIntPtr Dispatch(TrkVstAdapter& a, VstInt32 opcode, void* ptr = nullptr) {
    return a.getAeffect()->dispatcher(a.getAeffect(), opcode, 0, 0, ptr, 0);
  }
  void* const parent = reinterpret_cast<void*>(0x2000);
};

}  // namespace

TEST_F(EditorAdapterTest, OpenIdleAndCloseReachTheFormInOrderAndTheGuiRunsWhileAnEditorLives) {
  {
    TrkVstAdapter first(Host);
    TrkVstAdapter second(Host);
    EXPECT_EQ(Dispatch(first, effEditOpen, parent), 1);
    EXPECT_TRUE(first.Plugin().editorOpen);
    EXPECT_EQ(Dispatch(first, effEditOpen, parent), 1);  // already open: no second form
    Dispatch(first, effEditIdle);
    Dispatch(first, effEditClose);
    EXPECT_FALSE(first.Plugin().editorOpen);
    Dispatch(first, effEditIdle);  // closed: nothing
  }
  const std::vector<std::string> expected = {"start gui", "create", "link", "start updates", "update", "show",
                                             "update",    "stop updates", "unlink", "free", "stop gui"};
  EXPECT_EQ(calls, expected);
}

TEST_F(EditorAdapterTest, AnOpenInAnotherWindowOrAfterTheWindowWentMakesTheFormAfresh) {
  TrkVstAdapter adapter(Host);
  Dispatch(adapter, effEditOpen, parent);
  calls.clear();
  Dispatch(adapter, effEditOpen, reinterpret_cast<void*>(0x2004));
  windowGone = true;
  Dispatch(adapter, effEditOpen, reinterpret_cast<void*>(0x2004));
  const std::vector<std::string> again = {"stop updates", "unlink", "free", "create", "link", "start updates", "update",
                                          "show"};
  std::vector<std::string> expected = again;
  expected.insert(expected.end(), again.begin(), again.end());
  EXPECT_EQ(calls, expected);
  EXPECT_TRUE(adapter.Plugin().editorOpen);
}

TEST_F(EditorAdapterTest, AFormThatCannotBeMadeOpensNothingAndRaisesNothing) {
  TrkVstAdapter adapter(Host);
  failCreate = true;
  EXPECT_EQ(Dispatch(adapter, effEditOpen, parent), 0);
  EXPECT_FALSE(adapter.Plugin().editorOpen);
  EXPECT_EQ(Dispatch(adapter, effEditOpen, nullptr), 0);
  SetEditorServices(nullptr);
  EXPECT_EQ(Dispatch(adapter, effEditOpen, parent), 0);
  ERect* rect = nullptr;
  adapter.getAeffect()->dispatcher(adapter.getAeffect(), effEditGetRect, 0, 0, &rect, 0);
  ASSERT_NE(rect, nullptr);
  EXPECT_EQ(rect->right - rect->left, 450);
  EXPECT_EQ(rect->bottom - rect->top, 495);
}

TEST_F(EditorAdapterTest, PlugInsWhoseEditorNeverOpensNeverStartTheGui) {
  {
    TrkVstAdapter first(Host);
    TrkVstAdapter second(Host);
    ERect* rect = nullptr;
    first.getAeffect()->dispatcher(first.getAeffect(), effEditGetRect, 0, 0, &rect, 0);
    Dispatch(second, effEditIdle);
    Dispatch(second, effEditClose);
  }
  EXPECT_EQ(calls, std::vector<std::string>());
  EXPECT_EQ(TVstEditor::EditorCount(), 0);
}

TEST_F(EditorAdapterTest, AGuiThatCannotStartOpensNothingAndTheNextOpenTriesAgain) {
  {
    TrkVstAdapter adapter(Host);
    failStart = true;
    EXPECT_EQ(Dispatch(adapter, effEditOpen, parent), 0);
    EXPECT_FALSE(adapter.Plugin().editorOpen);
    failStart = false;
    EXPECT_EQ(Dispatch(adapter, effEditOpen, parent), 1);
    Dispatch(adapter, effEditClose);
  }
  const std::vector<std::string> expected = {"start gui", "create", "link",   "start updates", "update",
                                             "show",      "stop updates", "unlink", "free",          "stop gui"};
  EXPECT_EQ(calls, expected);
}
