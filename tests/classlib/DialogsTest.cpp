// Common dialogs answered by a timer running in their modal loop.
// windows.h comes first: the class library undoes its A/W name macros (TypInfo.h, Canvas.h).
#include <windows.h>

#include "classlib/Dialogs.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "WindowTestClasses.h"
#include "WindowTestUtils.h"

namespace {

BOOL CALLBACK FindDialog(HWND window, LPARAM data) {
  char name[16] = {};
  GetClassNameA(window, name, sizeof(name));
  if (std::string(name) == "#32770" && IsWindowVisible(window)) {
    *reinterpret_cast<HWND*>(data) = window;
    return FALSE;
  }
  return TRUE;
}

// Presses a button of the thread's dialog once it shows.
struct TDialogAnswer {
  void Tick(TObject*) {
    HWND dialog = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), &FindDialog, reinterpret_cast<LPARAM>(&dialog));
    if (dialog == nullptr) return;
    ++answered;
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
  }
  WORD button;
  int answered = 0;
};

}  // namespace

TEST(Dialogs, ColorDialogAcceptedKeepsTheStartColour) {
  TForeignWindow host;
  TColorDialog dialog(nullptr);
  dialog.SetColor(0x00336699);
  TDialogAnswer answer{IDOK};
  TTimer timer(nullptr);
  timer.SetInterval(50);
  timer.SetOnTimer(TNotifyEvent::Of<&TDialogAnswer::Tick>(&answer));
  EXPECT_TRUE(dialog.Execute(host.handle));
  EXPECT_GE(answer.answered, 1);
  EXPECT_EQ(dialog.GetColor(), 0x00336699);
}

TEST(Dialogs, OpenDialogCancelledKeepsNameAndCurrentDirectory) {
  TForeignWindow host;
  char before[MAX_PATH] = {};
  GetCurrentDirectoryA(MAX_PATH, before);
  TOpenDialog dialog(nullptr);
  dialog.SetFilter("Text files|*.txt|All files|*.*");
  dialog.SetFileName("start.txt");
  TDialogAnswer answer{IDCANCEL};
  TTimer timer(nullptr);
  timer.SetInterval(50);
  timer.SetOnTimer(TNotifyEvent::Of<&TDialogAnswer::Tick>(&answer));
  EXPECT_FALSE(dialog.Execute(host.handle));
  EXPECT_GE(answer.answered, 1);
  EXPECT_EQ(dialog.GetFileName(), "start.txt");
  char after[MAX_PATH] = {};
  GetCurrentDirectoryA(MAX_PATH, after);
  EXPECT_STREQ(before, after);
}

TEST(Dialogs, OpenDialogAcceptedAnswersTheFullPath) {
  TForeignWindow host;
  char temp[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, temp);
  const std::string path = std::string(temp) + "kbl_open_dialog_test.txt";
  std::ofstream(path) << "x";
  TOpenDialog dialog(nullptr);
  dialog.SetFileName(path);
  TDialogAnswer answer{IDOK};
  TTimer timer(nullptr);
  timer.SetInterval(100);
  timer.SetOnTimer(TNotifyEvent::Of<&TDialogAnswer::Tick>(&answer));
  const bool accepted = dialog.Execute(host.handle);
  std::remove(path.c_str());
  ASSERT_TRUE(accepted);
  EXPECT_EQ(CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, dialog.GetFileName().c_str(), -1, path.c_str(), -1),
            CSTR_EQUAL)
      << dialog.GetFileName();
}

TEST(Dialogs, SaveDialogAcceptsANameThatDoesNotExistYet) {
  TForeignWindow host;
  char temp[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, temp);
  const std::string path = std::string(temp) + "kbl_save_dialog_test.png";
  std::remove(path.c_str());
  TSaveDialog dialog(nullptr);
  dialog.SetFilter("PNG Image|*.png|BMP Image|*.bmp");
  dialog.SetDefaultExt("png");
  dialog.SetFileName(path);
  TDialogAnswer answer{IDOK};
  TTimer timer(nullptr);
  timer.SetInterval(100);
  timer.SetOnTimer(TNotifyEvent::Of<&TDialogAnswer::Tick>(&answer));
  ASSERT_TRUE(dialog.Execute(host.handle));
  EXPECT_EQ(CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, dialog.GetFileName().c_str(), -1, path.c_str(), -1),
            CSTR_EQUAL)
      << dialog.GetFileName();
  EXPECT_EQ(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES);  // the dialog writes nothing
}

TEST(Dialogs, FontDialogAcceptedAnswersAFontCancelledKeepsIt) {
  TForeignWindow host;
  TFontDialog dialog(nullptr);
  dialog.GetFont()->SetName("Kbl Missing Face");
  dialog.GetFont()->SetHeight(-16);
  TDialogAnswer cancel{IDCANCEL};
  {
    TTimer timer(nullptr);
    timer.SetInterval(100);
    timer.SetOnTimer(TNotifyEvent::Of<&TDialogAnswer::Tick>(&cancel));
    EXPECT_FALSE(dialog.Execute(host.handle));
  }
  EXPECT_EQ(dialog.GetFont()->GetName(), "Kbl Missing Face");
  EXPECT_EQ(dialog.GetFont()->GetHeight(), -16);
  // Accepting answers the face the dialog offers (a missing face is replaced by an installed
  // one; Wine's dialog then also drops the style, so only the face and size are checked).
  TDialogAnswer accept{IDOK};
  TTimer timer(nullptr);
  timer.SetInterval(100);
  timer.SetOnTimer(TNotifyEvent::Of<&TDialogAnswer::Tick>(&accept));
  ASSERT_TRUE(dialog.Execute(host.handle));
  EXPECT_FALSE(dialog.GetFont()->GetName().empty());
  EXPECT_NE(dialog.GetFont()->GetHeight(), 0);
}

TEST(Dialogs, InputQueryAnswersTheTypedTextOnOkOnly) {
  TForeignWindow host;
  SetActiveWindow(host.handle);
  struct Typist {
    void Tick(TObject*) {
      HWND dialog = nullptr;
      EnumThreadWindows(GetCurrentThreadId(), &FindDialog, reinterpret_cast<LPARAM>(&dialog));
      if (dialog == nullptr || done) return;
      done = true;
      if (!text.empty()) SetDlgItemTextW(dialog, 100, text.c_str());
      PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
    }
    std::wstring text;
    WORD button;
    bool done = false;
  };
  std::string value = "Brush1";
  Typist cancel{L"ignored", IDCANCEL};
  {
    TTimer timer(nullptr);
    timer.SetInterval(50);
    timer.SetOnTimer(TNotifyEvent::Of<&Typist::Tick>(&cancel));
    EXPECT_FALSE(InputQuery("New resource", "Enter resource name:", value));
  }
  EXPECT_EQ(value, "Brush1");
  Typist accept{L"Gloss", IDOK};
  TTimer timer(nullptr);
  timer.SetInterval(50);
  timer.SetOnTimer(TNotifyEvent::Of<&Typist::Tick>(&accept));
  EXPECT_TRUE(InputQuery("New resource", "Enter resource name:", value));
  EXPECT_TRUE(accept.done);
  EXPECT_EQ(value, "Gloss");
}
