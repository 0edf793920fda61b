// Real scene windows with controls under Wine: the composition window and font that the scene
// sets for the focused text control, read back through imm32, and the actions of the scene's
// controls updated from their form.
#include <windows.h>
#include <imm.h>

#include <gtest/gtest.h>

#include <memory>

#include "classlib/Forms.h"
#include "classlib/WindowTestUtils.h"
#include "scene/controls/vg_controls.h"
#include "scene/core/win32/vg_gdiplus.h"
#include "scene/core/win32/vg_scene.h"

namespace {

// A text control with a caret inside it, as text boxes report theirs.
class TCaretButton : public TvgButton, public IvgImeCaret {
 public:
  explicit TCaretButton(TComponent* owner) : TvgButton(owner) {}
  TvgPoint GetImeCaretOffset() override { return vgPoint(7, 3); }
};

TEST(SceneIme, TheCompositionWindowSitsAtTheFocusedTextControlsCaretInItsFont) {
  StartGdiPlus();
  TForeignWindow host(300, 200);
  std::unique_ptr<TvgScene> scene(TWinControl::CreateParented<TvgScene>(host.handle));
  scene->SetBounds(0, 0, 300, 200);
  scene->HandleNeeded();
  auto* root = new TvgVisualObject(nullptr);
  scene->AddObject(root);
  auto* plain = new TvgButton(nullptr);
  plain->SetBounds(10.6f, 20.9f, 80, 22);
  root->AddObject(plain);
  auto* box = new TCaretButton(nullptr);
  box->SetBounds(40.5f, 100.5f, 120, 22);
  box->GetFont()->SetFamily("Courier New");
  box->GetFont()->SetSize(12.7f);
  box->GetFont()->SetStyle(vgFontBoldItalic);
  root->AddObject(box);
  HWND window = scene->GetHandle();
  HIMC context = ImmGetContext(window);
  ASSERT_NE(context, nullptr);

  struct TCase {
    TvgVisualObject* focused;
    POINT expected;
  };
  const TCase cases[] = {
      {plain, {10, 20}},        // its origin, truncated
      {box, {40 + 7, 100 + 3}},  // plus the caret's offset
  };
  for (const TCase& c : cases) {
    c.focused->SetFocus();
    ASSERT_TRUE(c.focused->GetIsFocused());
    EXPECT_EQ(SendMessageW(window, WM_IME_STARTCOMPOSITION, 0, 0), 1);
    COMPOSITIONFORM form{};
    ASSERT_TRUE(ImmGetCompositionWindow(context, &form));
    EXPECT_EQ(form.dwStyle, static_cast<DWORD>(CFS_RECT));
    EXPECT_EQ(form.ptCurrentPos.x, c.expected.x);
    EXPECT_EQ(form.ptCurrentPos.y, c.expected.y);
    EXPECT_EQ(form.rcArea.right, 300);
    EXPECT_EQ(form.rcArea.bottom, 200);
  }
  LOGFONTW font{};
  ASSERT_TRUE(ImmGetCompositionFontW(context, &font));
  HDC screen = GetDC(nullptr);
  EXPECT_EQ(font.lfHeight, -MulDiv(12, GetDeviceCaps(screen, LOGPIXELSY), 72));
  ReleaseDC(nullptr, screen);
  EXPECT_EQ(font.lfWeight, FW_BOLD);
  EXPECT_TRUE(font.lfItalic);
  EXPECT_STREQ(font.lfFaceName, L"Courier New");
  ImmReleaseContext(window, context);
}

TEST(SceneActions, TheFormUpdatesTheActionsOfTheScenesVisibleControls) {
  StartGdiPlus();
  struct TCounter {
    int count = 0;
    void Hit(TObject*) { ++count; }
  } shown, hidden;
  TForm* form = TCustomForm::CreateNew<TForm>(nullptr);
  auto* scene = new TvgScene(form);
  scene->SetParent(form);
  auto* root = new TvgVisualObject(nullptr);
  scene->AddObject(root);
  auto* box = new TvgVisualObject(nullptr);  // controls nested below plain objects are found too
  root->AddObject(box);
  auto* visible = new TvgButton(nullptr);
  box->AddObject(visible);
  auto* invisible = new TvgButton(nullptr);
  invisible->SetVisible(false);
  root->AddObject(invisible);
  TAction first(nullptr), second(nullptr);
  first.OnUpdate = TNotifyEvent::Of<&TCounter::Hit>(&shown);
  second.OnUpdate = TNotifyEvent::Of<&TCounter::Hit>(&hidden);
  second.SetVisible(false);
  visible->SetAction(&first);
  invisible->SetAction(&second);
  form->UpdateActions();
  EXPECT_EQ(shown.count, 1);
  EXPECT_EQ(hidden.count, 0);
  delete form;
}

}  // namespace
