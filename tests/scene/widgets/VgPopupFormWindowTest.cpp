// The forms that drop-downs open in, in a real scene window under Wine: a popup form that closes
// while none of its code runs goes at once, with its window, canvas and GDI objects, whichever
// way it closes; one that closes inside its own handling goes once the message loop runs; a form
// its popups' or controls' handlers release goes with the loop, after those handlers. Under
// Wine without a window manager each popup window that goes costs about 2 s (the system waits for
// a manager to let go of a window that was activated), so the popups here open only a few times.
#include "SceneWindowFixture.h"

#include <ole2.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <functional>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "Emulation.h"
#include "FailAfter.h"
#include "classlib/Menus.h"
#include "classlib/MemoryManager.h"
#include "plugin/ProcessCounts.h"
#include "scene/controls/DefaultStyleSupport.h"
#include "scene/core/win32/vg_popupform_win32.h"
#include "scene/widgets/vg_colors.h"
#include "scene/widgets/vg_listbox.h"
#include "scene/widgets/vg_textbox.h"

namespace {

// What the process holds: GDI objects (a popup's canvas is a DIB section), windows and the memory
// manager's blocks.
struct THeld {
  uint32_t gdi = 0;
  int32_t windows = 0;
  size_t blocks = 0;

  static THeld Now() {
    const TProcessCounts counts = TProcessCounts::Now();
    return {counts.gdi, counts.windows, GetMemoryManagerState().smallBlocks};
  }
  friend ::testing::AssertionResult Same(const THeld& a, const THeld& b) {
    if (a.gdi == b.gdi && a.windows == b.windows && a.blocks == b.blocks) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "GDI objects " << a.gdi << " -> " << b.gdi << ", windows " << a.windows
                                         << " -> " << b.windows << ", blocks " << a.blocks << " -> " << b.blocks;
  }
};

class PopupFormsTest : public DefaultStyleWindowFixture {
 protected:
  // Runs the loop until the window is gone.
  bool Gone(HWND window) {
    return PumpUntil([&] { return !IsWindow(window); }, MachineBound(5000));
  }
};

// Clicks the scene window of a popup's form at a point of `object` on the popup.
void ClickInPopup(TvgPopup* popup, TvgVisualObject* object, TvgPoint at) {
  auto* form = dynamic_cast<TvgPopupForm*>(popup->GetPopupForm());
  ASSERT_NE(form, nullptr);
  const TvgPoint p = object->LocalToAbsolute(at);
  const LPARAM lParam = MAKELPARAM(static_cast<int>(p.X), static_cast<int>(p.Y));
  SendMessageW(form->GetScene()->GetHandle(), WM_LBUTTONDOWN, MK_LBUTTON, lParam);
  SendMessageW(form->GetScene()->GetHandle(), WM_LBUTTONUP, 0, lParam);
}

// A button on `popup` that runs `onClick` when clicked.
TvgButton* AddButton(TvgPopup* popup, TNotifyEvent onClick) {
  auto* button = new TvgButton(nullptr);
  button->SetBounds(10, 10, 80, 30);
  button->SetParent(popup);
  button->ApplyResource();
  button->OnClick = onClick;
  return button;
}

// A drop-down on the scene: its popup and what toggles it by code.
struct TDropDown {
  TvgPopup* popup;
  std::function<void()> toggle;
};
template <typename T>
TDropDown DropDownOf(T* box) {
  return {box->GetPopup(), [box] { box->DropDown(); }};
}

// Toggled by code with no message loop in between, drop-downs of every kind leave the GDI
// objects, windows and blocks as they were, and so does the loop when it runs afterwards.
TEST_F(PopupFormsTest, DropDownsToggledByCodeLeaveNothingBehindBeforeOrAfterTheLoop) {
  const std::vector<std::pair<const char*, std::function<TDropDown(float y)>>> kinds = {
      {"string combo box",
       [&](float y) {
         auto* box = Add<TvgStringComboBox>(20, y, 150, 22);
         for (const char16_t* s : {u"red", u"green", u"blue"}) box->GetItems()->Add(s);
         return DropDownOf(box);
       }},
      {"combo text box",
       [&](float y) {
         auto* box = Add<TvgComboTextBox>(20, y, 150, 22);
         box->GetItems()->Add(u"one");
         return DropDownOf(box);
       }},
      {"combo track bar", [&](float y) { return DropDownOf(Add<TvgComboTrackBar>(20, y, 150, 22)); }},
      {"colour combo", [&](float y) { return DropDownOf(Add<TvgComboColorBox>(20, y, 60, 22)); }},
      {"popup by IsOpen",
       [&](float y) {
         auto* popup = Add<TvgPopup>(20, y, 120, 60);
         return TDropDown{popup, [popup] { popup->SetIsOpen(!popup->GetIsOpen()); }};
       }},
  };
  const TFailAfter bound(MachineBound(120000), "drop-downs toggled by code");
  std::vector<TDropDown> dropDowns;
  for (const auto& [name, make] : kinds) {
    dropDowns.push_back(make(20 + 40 * static_cast<float>(dropDowns.size())));
    dropDowns.back().toggle();  // the first opening makes what every later one shares
    ASSERT_NE(dropDowns.back().popup->GetPopupForm(), nullptr) << name;
    dropDowns.back().toggle();
  }
  Settle(3000);
  const THeld before = THeld::Now();
  for (size_t i = 0; i < kinds.size(); ++i) {
    for (int toggle = 0; toggle < 2; ++toggle) dropDowns[i].toggle();  // opened and closed
    EXPECT_TRUE(Same(before, THeld::Now())) << kinds[i].first << ", no loop run";
  }
  Settle(1000);
  EXPECT_TRUE(Same(before, THeld::Now())) << "after the loop";
}

// Closes a drop-down from inside a drag over its popup, or a tick of a timer its form owns. A
// form freed under that drag or tick ends the program: the scene's code would go on in freed
// memory.
struct TDragCloser {
  TvgStringComboBox* box = nullptr;
  void Over(TObject*, const TvgDragObject&, const TvgPoint&, bool& accept) {
    accept = false;
    Close();
  }
  void Tick(TObject* timer) {
    static_cast<TvgTimer*>(timer)->SetEnabled(false);
    Close();
  }
  void Close() {
    const auto window = static_cast<HWND>(box->GetPopup()->GetPopupForm()->NativeWindow());
    box->DropDown();
    if (IsWindow(window)) return;
    std::fprintf(stderr, "FAILED: the popup's form was freed under a drag over it or a tick of its timer\n");
    std::fflush(stderr);
    TerminateProcess(GetCurrentProcess(), 1);
  }
};

// Releases the form of an animation's scene when the animation finishes. Freed under that step,
// the form's code would go on in freed memory: the program ends.
struct TReleaseOnFinish {
  TForm* form = nullptr;
  int destroys = 0;
  void Destroyed(TObject*) { ++destroys; }
  void Finished(TObject*) {
    form->Release();
    if (destroys == 0) return;
    std::fprintf(stderr, "FAILED: the form was freed under a step of its scene's animation\n");
    std::fflush(stderr);
    TerminateProcess(GetCurrentProcess(), 1);
  }
};

// The animations of a form's scene run the form's code from the ticker's timer: a release one of
// their handlers asks for waits for the step (a form in the host window, never activated).
void ReleaseByItsScenesAnimation(HWND host) {
  const TFailAfter bound(MachineBound(20000), "a form released by its scene's animation");
  TReleaseOnFinish rig;
  rig.form = TCustomForm::CreateNew<TForm>(nullptr);
  rig.form->OnDestroy = TNotifyEvent::Of<&TReleaseOnFinish::Destroyed>(&rig);
  rig.form->SetParentWindow(host);
  rig.form->SetBounds(0, 0, 100, 60);
  auto* formScene = new TvgScene(rig.form);
  formScene->SetParent(rig.form);
  formScene->SetAlign(alClient);
  auto* shape = new TvgRectangle(nullptr);
  formScene->AddObject(shape);
  auto* animation = new TvgFloatAnimation(nullptr);
  animation->SetParent(shape);
  animation->SetPropertyName("Opacity");
  animation->SetStopValue(0.5f);
  animation->SetDuration(0.05f);
  animation->OnFinish = TNotifyEvent::Of<&TReleaseOnFinish::Finished>(&rig);
  rig.form->Show();
  animation->Start();
  EXPECT_TRUE(PumpUntil([&] { return rig.destroys == 1; }, MachineBound(5000))) << "released by its scene's animation";
}

// Whichever way the popup closes, its form goes at once when none of its code runs (the owner
// freed while open, the scene freed; closed by code above), and once the loop runs when it closes
// inside the form's own handling (a click on an item of its list, a drag over it, a timer of its
// own, another window activated), which goes on with a whole form. A form released by an
// animation of its scene likewise waits for the step.
TEST_F(PopupFormsTest, APopupsFormGoesAtOnceUnlessItClosesInsideItsOwnHandling) {
  struct Way {
    const char* name;
    std::function<void(TvgStringComboBox*, TvgPopupForm*)> close;
    bool atOnce;
    bool freesTheBox;
  };
  TDragCloser closer;
  const std::vector<Way> ways = {
      {"a click on an item",
       [](TvgStringComboBox* box, TvgPopupForm*) {
         ClickInPopup(box->GetPopup(), box->GetListBox()->ItemByIndex(1), vgPoint(10, 8));
         EXPECT_EQ(box->GetItemIndex(), 1);
       },
       false, false},
      {"a drag over it",
       [&](TvgStringComboBox* box, TvgPopupForm* form) {
         closer.box = box;
         box->GetPopup()->OnDragOver = TvgDragOverEvent::Of<&TDragCloser::Over>(&closer);
         auto* target = static_cast<IDropTarget*>(form->GetScene()->GetOleDropTarget());
         ASSERT_NE(target, nullptr);
         RECT r{};
         GetWindowRect(form->GetHandle(), &r);
         const POINTL centre{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
         DWORD effect = DROPEFFECT_COPY;
         ASSERT_EQ(target->DragEnter(nullptr, 0, centre, &effect), S_OK);
         target->DragOver(0, centre, &effect);
         target->DragLeave();
       },
       false, false},
      {"a timer of its own",
       [&](TvgStringComboBox* box, TvgPopupForm* form) {
         closer.box = box;
         auto* timer = new TvgTimer(form);
         timer->SetInterval(1);
         timer->SetOnTimer(TNotifyEvent::Of<&TDragCloser::Tick>(&closer));
         timer->SetEnabled(true);
         for (MSG msg; box->GetPopup()->GetIsOpen() && GetMessageW(&msg, nullptr, 0, 0) > 0;) DispatchMessageW(&msg);
       },
       false, false},
      {"another window activated", [&](TvgStringComboBox*, TvgPopupForm*) { SetActiveWindow(host->handle); }, false,
       false},
      {"the owner freed", [](TvgStringComboBox* box, TvgPopupForm*) { delete box; }, true, true},
      {"the scene freed",
       [&](TvgStringComboBox*, TvgPopupForm*) {
         delete scene;
         scene = nullptr;
       },
       true, true},
  };
  for (const Way& way : ways) {
    const TFailAfter bound(MachineBound(30000), way.name);  // a form freed under its own handling may hang or crash
    auto* box = Add<TvgStringComboBox>(20, 20, 150, 22);
    for (const char16_t* s : {u"red", u"green", u"blue"}) box->GetItems()->Add(s);
    box->DropDown();
    TvgPopup* popup = box->GetPopup();
    auto* form = dynamic_cast<TvgPopupForm*>(popup->GetPopupForm());
    ASSERT_NE(form, nullptr) << way.name;
    const HWND window = form->GetHandle();
    way.close(box, form);
    EXPECT_EQ(IsWindow(window) != FALSE, !way.atOnce) << way.name;
    if (!way.atOnce) EXPECT_FALSE(popup->GetIsOpen()) << way.name;
    EXPECT_TRUE(Gone(window)) << way.name;
    if (!way.freesTheBox) delete box;
  }
  ReleaseByItsScenesAnimation(host->handle);  // the same for a form a handler of its scene releases
}

}  // namespace

namespace {

// Shows a modal form from a button on a popup: the form takes the activation, which closes the
// popup inside the button's handling, and its loop runs before that handling returns. The popup's
// form must still be there then; freed by that loop, the scene's code would go on in freed
// memory: the program ends.
struct TModalFromPopup {
  HWND popupWindow = nullptr;
  bool shown = false;
  void EndModal(TObject* timer) {
    static_cast<TTimer*>(timer)->SetEnabled(false);
    static_cast<TCustomForm*>(static_cast<TTimer*>(timer)->GetOwner())->SetModalResult(mrOk);
  }
  void ShowModalOnClick(TObject*) {
    std::unique_ptr<TForm> dialog(TCustomForm::CreateNew<TForm>(nullptr));
    dialog->SetBounds(300, 300, 120, 80);
    auto* timer = new TTimer(dialog.get());
    timer->SetInterval(200);
    timer->SetOnTimer(TNotifyEvent::Of<&TModalFromPopup::EndModal>(this));
    dialog->ShowModal();
    shown = true;
    if (IsWindow(popupWindow)) return;
    std::fprintf(stderr, "FAILED: the popup's form was freed by a modal loop run inside its own handling\n");
    std::fflush(stderr);
    TerminateProcess(GetCurrentProcess(), 1);
  }
};

}  // namespace

// A popup's form closed inside its own handling stays whole until that handling returns, also
// when the handling runs a message loop first (a dialog shown from a button on the popup).
TEST_F(PopupFormsTest, APopupsFormOutlivesAModalLoopRunInsideItsOwnHandling) {
  const TFailAfter bound(MachineBound(30000), "a modal form shown from a button on a popup");
  TModalFromPopup rig;
  auto* popup = Add<TvgPopup>(20, 20, 120, 60);
  TvgButton* button = AddButton(popup, TNotifyEvent::Of<&TModalFromPopup::ShowModalOnClick>(&rig));
  popup->SetIsOpen(true);
  auto* form = dynamic_cast<TvgPopupForm*>(popup->GetPopupForm());
  ASSERT_NE(form, nullptr);
  rig.popupWindow = form->GetHandle();
  ClickInPopup(popup, button, vgPoint(20, 10));
  EXPECT_TRUE(rig.shown);
  EXPECT_FALSE(popup->GetIsOpen());
  EXPECT_TRUE(Gone(rig.popupWindow));
}

namespace {

// Closes a popup when one of its text boxes loses the focus. The popup's scene moves the focus
// (its SetFocused is on the stack) and goes on once this returns: its form must still be there.
struct TCloseOnKillFocus {
  TvgPopup* popup = nullptr;
  HWND popupWindow = nullptr;
  bool closed = false;
  void Close(TObject*) {
    popup->SetIsOpen(false);
    closed = true;
    if (IsWindow(popupWindow)) return;
    std::fprintf(stderr, "FAILED: the popup's form was freed while its scene moved the focus\n");
    std::fflush(stderr);
    TerminateProcess(GetCurrentProcess(), 1);
  }
};

}  // namespace

// Code of the popup's form runs also when code outside calls into its scene (a timer of the
// editor, the host's idle call moving the focus): a popup closed from a handler of that call
// keeps its form until the call has returned.
TEST_F(PopupFormsTest, APopupsFormOutlivesItsScenesFocusMovedByCode) {
  const TFailAfter bound(MachineBound(30000), "a popup closed as its scene moves the focus");
  auto* popup = Add<TvgPopup>(20, 20, 160, 80);
  TvgTextBox* boxes[2] = {};
  for (int i = 0; i < 2; ++i) {
    boxes[i] = new TvgTextBox(nullptr);
    boxes[i]->SetBounds(10, 10 + 30.0f * i, 120, 22);
    boxes[i]->SetParent(popup);
    boxes[i]->ApplyResource();
  }
  popup->SetIsOpen(true);
  auto* form = dynamic_cast<TvgPopupForm*>(popup->GetPopupForm());
  ASSERT_NE(form, nullptr);
  boxes[0]->SetFocus();
  ASSERT_TRUE(boxes[0]->GetIsFocused());
  TCloseOnKillFocus closer{popup, form->GetHandle()};
  boxes[0]->OnKillFocus = TNotifyEvent::Of<&TCloseOnKillFocus::Close>(&closer);
  boxes[1]->SetFocus();
  EXPECT_TRUE(closer.closed);
  EXPECT_TRUE(Gone(closer.popupWindow));
}

namespace {

// While it lives, a freed object's block is filled with 0xDD and kept, so that code going on in
// a freed object reads 0xDDDDDDDD and faults at once instead of reading what it left.
class TFilledFrees {
 public:
  TFilledFrees() { SetObjectAllocator(&Allocate, &Free); }
  ~TFilledFrees() { SetObjectAllocator(nullptr, nullptr); }
  TFilledFrees(const TFilledFrees&) = delete;
  TFilledFrees& operator=(const TFilledFrees&) = delete;

 private:
  static std::mutex& Lock() {
    static std::mutex lock;
    return lock;
  }
  // The sizes of the blocks made while it lives; blocks made before go back as usual.
  static std::unordered_map<void*, size_t>& Sizes() {
    static std::unordered_map<void*, size_t> sizes;
    return sizes;
  }
  static void* Allocate(size_t size, const void*, const void*) {
    void* block = ::operator new(size);
    const std::lock_guard<std::mutex> guard(Lock());
    Sizes()[block] = size;
    return block;
  }
  static void Free(void* block) {
    const std::lock_guard<std::mutex> guard(Lock());
    const auto it = Sizes().find(block);
    if (it == Sizes().end()) {
      ::operator delete(block);
      return;
    }
    std::memset(block, 0xDD, it->second);
    Sizes().erase(it);
  }
};

// The probe under way, named when the program ends on a fault.
const char* gProbe = "";
LONG WINAPI EndOnFault(EXCEPTION_POINTERS* pointers) {
  const EXCEPTION_RECORD* r = pointers->ExceptionRecord;
  std::fprintf(stderr, "FAILED: fault %08lx at %p (reading %08lx) in \"%s\"\n", r->ExceptionCode,
               r->ExceptionAddress, r->NumberParameters > 1 ? static_cast<unsigned long>(r->ExceptionInformation[1]) : 0ul,
               gProbe);
  std::fflush(stderr);
  TerminateProcess(GetCurrentProcess(), 1);
  return EXCEPTION_EXECUTE_HANDLER;
}

// A top-level form holding a scene, whose controls' handlers release it (or close it with
// caFree), optionally running a nested loop afterwards. A form freed under the handler, or by
// that loop, ends the program: the code that called the handler would go on in freed memory.
struct TReleasingForm {
  TForm* form = nullptr;
  TvgBackground* root = nullptr;
  int destroys = 0;
  bool close = false;
  bool pump = false;
  int handled = 0;
  void Destroyed(TObject*) { ++destroys; }
  void CloseFrees(TObject*, TCloseAction& action) { action = caFree; }
  void ReleaseNow(TObject*) {
    ++handled;
    if (close) form->Close();
    else form->Release();
    if (pump) Application().ProcessMessages();
    if (destroys == 0) return;
    std::fprintf(stderr, "FAILED: the form was freed under \"%s\"\n", gProbe);
    std::fflush(stderr);
    TerminateProcess(GetCurrentProcess(), 1);
  }
  // A handler that frees the object that fired it before releasing: what marks the code further
  // up the stack must still count.
  void FreeSenderAndRelease(TObject* sender) {
    delete sender;
    ReleaseNow(nullptr);
  }
  TvgPopup* toClose = nullptr;
  void CloseThePopup(TObject*) { toClose->SetIsOpen(false); }
  // A modal popup's loop: its button is clicked at the first tick, the loop ended at a later one.
  TvgPopup* modal = nullptr;
  TvgButton* modalButton = nullptr;
  int ticks = 0;
  void ModalTick(TObject*) {
    if (++ticks == 1) ClickInPopup(modal, modalButton, vgPoint(20, 10));
    else if (ticks == 4) modal->SetModalResult(mrOk);
  }
  template <typename T>
  T* Add(float y, float w, float h, TComponent* owner = nullptr) {
    auto* c = new T(owner);
    c->SetBounds(20, y, w, h);
    c->SetParent(root);
    c->ApplyResource();
    return c;
  }
  // A control whose `event` releases the form, and then runs a loop when `loop`.
  template <typename T>
  T* AddReleasing(TNotifyEvent T::*event, float w, float h, bool loop = true) {
    pump = loop;
    T* c = Add<T>(20, w, h);
    c->*event = TNotifyEvent::Of<&TReleasingForm::ReleaseNow>(this);
    return c;
  }
};

TvgStringComboBox* StringCombo(TReleasingForm& r) {
  auto* box = r.Add<TvgStringComboBox>(20, 150, 22);
  for (const char16_t* s : {u"red", u"green", u"blue"}) box->GetItems()->Add(s);
  return box;
}

void ChooseInStringCombo(TReleasingForm& r) {
  auto* box = StringCombo(r);
  box->OnChange = TNotifyEvent::Of<&TReleasingForm::ReleaseNow>(&r);
  box->DropDown();
  ClickInPopup(box->GetPopup(), box->GetListBox()->ItemByIndex(1), vgPoint(10, 8));
}

void SetStringComboItemByProgram(TReleasingForm& r) {
  auto* box = StringCombo(r);
  box->OnChange = TNotifyEvent::Of<&TReleasingForm::ReleaseNow>(&r);
  box->SetItemIndex(2);
}

// An opacity animation on `parent` whose OnFinish releases the rig's form.
TvgFloatAnimation* ReleasingAnimation(TReleasingForm& r, TvgObject* parent, float duration) {
  auto* animation = new TvgFloatAnimation(nullptr);
  animation->SetParent(parent);
  animation->SetPropertyName("Opacity");
  animation->SetStopValue(0.5f);
  animation->SetDuration(duration);
  animation->OnFinish = TNotifyEvent::Of<&TReleasingForm::ReleaseNow>(&r);
  return animation;
}

// Answers the thread's dialog box with OK once it is up, from inside the dialog's own loop.
BOOL CALLBACK PressOkIfDialog(HWND window, LPARAM timer) {
  wchar_t name[16] = {};
  GetClassNameW(window, name, 16);
  if (std::wcscmp(name, L"#32770") != 0 || !IsWindowVisible(window)) return TRUE;
  KillTimer(nullptr, static_cast<UINT_PTR>(timer));
  PostMessageW(window, WM_COMMAND, IDOK, 0);
  return FALSE;
}
void CALLBACK PressOkInDialog(HWND, UINT, UINT_PTR timer, DWORD) {
  EnumThreadWindows(GetCurrentThreadId(), &PressOkIfDialog, static_cast<LPARAM>(timer));
}
// Chooses the first item of the thread's menu from inside the menu's own loop.
void CALLBACK ChooseFirstMenuItem(HWND, UINT, UINT_PTR timer, DWORD) {
  const HWND menu = FindWindowW(L"#32768", nullptr);
  if (menu == nullptr || !IsWindowVisible(menu)) return;
  KillTimer(nullptr, timer);
  PostMessageW(menu, WM_KEYDOWN, VK_DOWN, 0);
  PostMessageW(menu, WM_KEYDOWN, VK_RETURN, 0);
}
// Closes the thread's menu from inside the menu's own loop.
void CALLBACK EndMenuNow(HWND, UINT, UINT_PTR timer, DWORD) {
  KillTimer(nullptr, timer);
  EndMenu();
}

struct TReleaseProbe {
  const char* name;
  std::function<void(TReleasingForm&)> run;
  bool sceneOwnedByTheForm = true;  // else only placed on it
  bool inHostWindow = false;         // a form in a foreign window (CreateParented)
};

// Runs each probe on a form of its own with freed objects filled: the handler it sets up must
// not see the form freed, and the loop frees it afterwards with its window.
void RunReleaseProbes(const std::vector<TReleaseProbe>& probes, HWND host) {
  const LPTOP_LEVEL_EXCEPTION_FILTER before = SetUnhandledExceptionFilter(&EndOnFault);
  for (const TReleaseProbe& p : probes) {
    const char* name = p.name;
    gProbe = name;
    const TFailAfter bound(MachineBound(30000), name);
    TReleasingForm rig;
    {
      const TFilledFrees filled;
      rig.form = TCustomForm::CreateNew<TForm>(nullptr);
      rig.form->OnDestroy = TNotifyEvent::Of<&TReleasingForm::Destroyed>(&rig);
      rig.form->OnClose = TCloseEvent::Of<&TReleasingForm::CloseFrees>(&rig);
      rig.form->SetBounds(40, 40, 300, 200);
      if (p.inHostWindow) rig.form->SetParentWindow(host);
      auto* formScene = new TvgScene(p.sceneOwnedByTheForm ? rig.form : nullptr);  // freed with it all the same
      formScene->SetParent(rig.form);
      formScene->SetAlign(alClient);
      rig.root = new TvgBackground(nullptr);
      formScene->AddObject(rig.root);
      rig.form->Show();
      const HWND window = rig.form->GetHandle();
      p.run(rig);
      EXPECT_GE(rig.handled, 1) << name;
      EXPECT_EQ(rig.destroys, 0) << name;
      EXPECT_TRUE(PumpUntil([&] { return rig.destroys == 1; }, MachineBound(5000))) << name;
      EXPECT_FALSE(IsWindow(window)) << name;
    }
    if (rig.destroys == 0) delete rig.form;
  }
  SetUnhandledExceptionFilter(before);
}

}  // namespace

// A form released, or closed with caFree, by a handler of its controls goes once the message
// loop runs, never under the code that called the handler: a popup's item or button clicked in
// the popup's own window, a setter called by the program, a loop run inside a popup's handler
// (also on a scene placed on the form but not owned by it, and when the program opens or closes
// the popup). Freed objects are filled, so that code going on in one faults.
TEST_F(PopupFormsTest, AFormReleasedByItsControlsHandlersGoesWithTheLoop) {
  RunReleaseProbes({
      {"a string combo's item clicked, OnChange releases", &ChooseInStringCombo},
      {"a string combo's item clicked, OnChange closes with caFree",
       [](TReleasingForm& r) {
         r.close = true;
         ChooseInStringCombo(r);
       }},
      {"a loop run after the release in OnChange of a string combo's item clicked",
       [](TReleasingForm& r) {
         r.pump = true;
         ChooseInStringCombo(r);
       }},
      {"a combo text box's item clicked, OnChangeTracking releases",
       [](TReleasingForm& r) {
         auto* box = r.Add<TvgComboTextBox>(20, 150, 22);
         for (const char16_t* s : {u"one", u"two"}) box->GetItems()->Add(s);
         box->OnChangeTracking = TNotifyEvent::Of<&TReleasingForm::ReleaseNow>(&r);
         box->DropDown();
         ClickInPopup(box->GetPopup(), box->GetListBox()->ItemByIndex(1), vgPoint(10, 8));
       }},
      {"a button on a popup's form clicked, OnClick releases",
       [](TReleasingForm& r) {
         auto* popup = r.Add<TvgPopup>(20, 120, 60);
         TvgButton* button = AddButton(popup, TNotifyEvent::Of<&TReleasingForm::ReleaseNow>(&r));
         popup->SetIsOpen(true);
         ClickInPopup(popup, button, vgPoint(20, 10));
       }},
      {"a button clicked in a popup's modal loop, OnClick releases",
       [](TReleasingForm& r) {
         r.modal = r.Add<TvgPopup>(20, 120, 60, r.form);  // freed with the form
         r.modalButton = AddButton(r.modal, TNotifyEvent::Of<&TReleasingForm::ReleaseNow>(&r));
         TTimer ticker(nullptr);
         ticker.SetInterval(20);
         ticker.SetOnTimer(TNotifyEvent::Of<&TReleasingForm::ModalTick>(&r));
         ticker.SetEnabled(true);
         EXPECT_EQ(r.modal->PopupModal(), mrOk);
       }},
      {"a string combo's ItemIndex set by the program", &SetStringComboItemByProgram},
      {"a loop run after the release in OnChange of a string combo's item clicked, the scene not the form's",
       [](TReleasingForm& r) {
         r.pump = true;
         ChooseInStringCombo(r);
       },
       false},
      {"a loop run after the release in OnFinish of a popup's animation started by its opening by the program",
       [](TReleasingForm& r) {
         r.pump = true;
         auto* popup = r.Add<TvgPopup>(20, 120, 60);
         ReleasingAnimation(r, popup, 0)->SetTrigger("IsOpen=true");  // finishes at once
         popup->SetIsOpen(true);
       }},
      {"a loop run after the release in OnClosePopup of a popup closed by the program",
       [](TReleasingForm& r) {
         r.pump = true;
         auto* popup = r.Add<TvgPopup>(20, 120, 60);
         popup->OnClosePopup = TNotifyEvent::Of<&TReleasingForm::ReleaseNow>(&r);
         popup->SetIsOpen(true);
         popup->SetIsOpen(false);
       }},
  }, host->handle);
}

// A handler fired by a scene control's setter or method called by the program runs as code of
// the control: a release there that then runs a loop leaves the form to the loop after the
// setter, and on a form in a host window the release alone does not free it under the setter.
// So do a dialog or menu a control runs when the program clicks it and a wait for an animation
// the program asks for; an animation's steps count as code of the form also when the scene is
// only placed on it.
TEST_F(PopupFormsTest, AFormReleasedInHandlersOfItsControlsSettersOutlivesThem) {
  RunReleaseProbes({
      {"a loop run after the release in OnChange of a string combo's ItemIndex set by the program",
       [](TReleasingForm& r) {
         r.pump = true;
         SetStringComboItemByProgram(r);
       }},
      {"a loop run after the release in OnChangeTracking of a combo text box's ItemIndex set by the program",
       [](TReleasingForm& r) {
         auto* box = r.AddReleasing<TvgComboTextBox>(&TvgComboTextBox::OnChangeTracking, 150, 22);
         for (const char16_t* s : {u"one", u"two"}) box->GetItems()->Add(s);
         box->SetItemIndex(1);
       }},
      {"a loop run after the release in OnChange of a colour combo's Color set by the program",
       [](TReleasingForm& r) {
         r.AddReleasing<TvgComboColorBox>(&TvgComboColorBox::OnChange, 60, 22)->SetColor("#FF00FF00");
       }},
      {"a loop run after the release in OnChange of a combo track bar's Value set by the program",
       [](TReleasingForm& r) {
         auto* box = r.AddReleasing<TvgComboTrackBar>(&TvgComboTrackBar::OnChange, 150, 22);
         box->SetValue(box->GetMax() / 2 + 1);
       }},
      {"a loop run after the release in OnClick of a button clicked by the program",
       [](TReleasingForm& r) { r.AddReleasing<TvgButton>(&TvgButton::OnClick, 80, 30)->Click(); }},
      {"the loop of an AnimateFloatWait called by the program after the release in OnClick",
       [](TReleasingForm& r) {
         auto* button = r.AddReleasing<TvgButton>(&TvgButton::OnClick, 80, 30, false);
         button->Click();
         button->AnimateFloatWait("Opacity", 0.5f, 0.05f);
       }},
      {"a loop run after the release in OnChange of a check box's IsChecked set by the program",
       [](TReleasingForm& r) { r.AddReleasing<TvgCheckBox>(&TvgCheckBox::OnChange, 120, 19)->SetIsChecked(true); }},
      {"a loop run after the release in OnChange of a track bar's Value set by the program",
       [](TReleasingForm& r) {
         auto* bar = r.AddReleasing<TvgTrackBar>(&TvgTrackBar::OnChange, 150, 20);
         bar->SetValue(bar->GetMax() / 2 + 1);
       }},
      {"a loop run after the release in OnChangeTracking of a text box's Text set by the program",
       [](TReleasingForm& r) {
         r.AddReleasing<TvgTextBox>(&TvgTextBox::OnChangeTracking, 150, 22)->SetText(u"released");
       }},
      {"the colour dialog of a colour button clicked by the program, after the release in OnClick",
       [](TReleasingForm& r) {
         auto* button = r.AddReleasing<TvgColorButton>(&TvgColorButton::OnClick, 80, 22, false);
         button->SetUseStandardDialog(true);
         SetTimer(nullptr, 0, 50, &PressOkInDialog);
         button->Click();
       }},
      {"the menu of a popup box clicked by the program, after the release in OnClick",
       [](TReleasingForm& r) {
         auto* box = r.AddReleasing<TvgPopupBox>(&TvgPopupBox::OnClick, 100, 22, false);
         for (const char16_t* s : {u"one", u"two"}) box->GetItems()->Add(s);
         SetTimer(nullptr, 0, 50, &EndMenuNow);
         box->Click();
       }},
      {"the context menu of a button opened by the program, after the release in OnClick",
       [](TReleasingForm& r) {
         auto* button = r.AddReleasing<TvgButton>(&TvgButton::OnClick, 80, 30, false);
         const std::unique_ptr<TPopupMenu> menu(new TPopupMenu(nullptr));  // no form's: the button's
         menu->GetItems()->Add(new TMenuItem(menu.get()));
         menu->GetItems()->GetItem(0)->SetCaption("one");
         button->SetPopupMenu(menu.get());
         button->Click();
         SetTimer(nullptr, 0, 50, &EndMenuNow);
         button->ContextMenu(vgPoint(30, 30));
       }},
      {"a loop run after the release in OnClosePopup of a popup that frees itself there, closed in a button's OnClick",
       [](TReleasingForm& r) {
         r.pump = true;
         r.toClose = r.Add<TvgPopup>(20, 120, 60);
         r.toClose->OnClosePopup = TNotifyEvent::Of<&TReleasingForm::FreeSenderAndRelease>(&r);
         r.toClose->SetIsOpen(true);
         auto* button = r.Add<TvgButton>(100, 80, 30);
         button->OnClick = TNotifyEvent::Of<&TReleasingForm::CloseThePopup>(&r);
         button->Click();
       }},
      {"a loop run after the release in OnClick of a context menu's item that frees itself there",
       [](TReleasingForm& r) {
         r.pump = true;
         auto* button = r.Add<TvgButton>(20, 80, 30);
         const std::unique_ptr<TPopupMenu> menu(new TPopupMenu(nullptr));  // no form's: the button's
         auto* item = new TMenuItem(menu.get());
         item->SetCaption("one");
         item->OnClick = TNotifyEvent::Of<&TReleasingForm::FreeSenderAndRelease>(&r);
         menu->GetItems()->Add(item);
         button->SetPopupMenu(menu.get());
         SetTimer(nullptr, 0, 50, &ChooseFirstMenuItem);
         button->ContextMenu(vgPoint(30, 30));
       }},
      {"the release in OnChange of a string combo's ItemIndex set by the program, the form in a host window",
       &SetStringComboItemByProgram, true, true},
      {"a loop run after the release in OnFinish of an animation, the scene not the form's",
       [](TReleasingForm& r) {
         r.pump = true;
         ReleasingAnimation(r, r.Add<TvgRectangle>(20, 50, 50), 0.05f)->Start();
         while (r.handled == 0) Application().HandleMessage();
       },
       false},
  }, host->handle);
}
