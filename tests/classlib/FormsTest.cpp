// Forms: streamed from their resource, parented in a host window, shown, closed and released.
// windows.h comes first: the class library undoes its A/W name macros (TypInfo.h, Canvas.h).
#include <windows.h>

#include "classlib/Forms.h"

#include <gtest/gtest.h>

#include <csetjmp>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

#include "Emulation.h"
#include "FailAfter.h"
#include "WindowTestClasses.h"
#include "classlib/FormText.h"
#include "classlib/ResourceStream.h"
#include "WindowTestUtils.h"

TEST(Forms, ChildComponentsLoadFromTheFormResource) {
  RegisterWindowTestClasses();
  std::unique_ptr<TUiTestForm> form(TCustomForm::Create<TUiTestForm>(nullptr));
  EXPECT_TRUE(form->headerAtCreate);  // OnCreate runs after the stream
  EXPECT_EQ(form->GetName(), "UiTestForm");
  EXPECT_EQ(form->GetCaption(), "Streamed form");
  EXPECT_EQ(form->GetBorderStyle(), bsNone);
  EXPECT_EQ(form->GetClientWidth(), 200);
  EXPECT_EQ(form->GetClientHeight(), 120);

  auto* header = dynamic_cast<TUiPanel*>(form->FindComponent("Header"));
  auto* inner = dynamic_cast<TUiPanel*>(form->FindComponent("Inner"));
  auto* body = dynamic_cast<TUiPanel*>(form->FindComponent("Body"));
  auto* menu = dynamic_cast<TPopupMenu*>(form->FindComponent("Menu"));
  auto* ticker = dynamic_cast<TTimer*>(form->FindComponent("Ticker"));
  ASSERT_TRUE(header && inner && body && menu && ticker);
  EXPECT_EQ(header->GetParent(), form.get());
  EXPECT_EQ(inner->GetParent(), header);
  EXPECT_EQ(inner->GetOwner(), form.get());
  EXPECT_EQ(header->GetPopupMenu(), menu);
  EXPECT_EQ(header->GetColor(), clRed);
  // Aligned after loading: the header across the top, the body below it.
  EXPECT_EQ(header->GetWidth(), 200);
  EXPECT_EQ(body->GetTop(), 20);
  EXPECT_EQ(body->GetHeight(), 100);
  EXPECT_EQ(inner->GetLeft(), 5);

  ASSERT_EQ(menu->GetItems()->Count(), 3);
  EXPECT_EQ(menu->GetItems()->GetItem(0)->GetName(), "miFirst");
  EXPECT_TRUE(menu->GetItems()->GetItem(1)->IsLine());
  TMenuItem* sub = menu->GetItems()->GetItem(2);
  ASSERT_EQ(sub->Count(), 1);
  EXPECT_TRUE(sub->GetItem(0)->GetChecked());
  EXPECT_EQ(sub->GetItem(0)->GetMenu(), menu);
  EXPECT_EQ(ticker->GetInterval(), 25u);

  // Events bound by name.
  body->Perform(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(1, 1));
  EXPECT_EQ(form->bodyClicks, 0);  // no window yet: Perform goes to the entry points only
  sub->GetItem(0)->Click();
  EXPECT_EQ(form->itemClicks, 1);
  EXPECT_EQ(form->lastItem, sub->GetItem(0));

  // The stream writes back the same tree.
  std::string text = ComponentToText(form.get());
  EXPECT_NE(text.find("object Inner: TUiPanel"), std::string::npos);
  EXPECT_NE(text.find("object miDeep: TMenuItem"), std::string::npos);
  EXPECT_NE(text.find("OnTimer = Tick"), std::string::npos);
}

TEST(Forms, StreamedTimerTicksOnceTheFormIsLoaded) {
  RegisterWindowTestClasses();
  std::unique_ptr<TUiTestForm> form(TCustomForm::Create<TUiTestForm>(nullptr));
  EXPECT_TRUE(PumpUntil([&] { return form->ticks >= 2; }));
}

TEST(Forms, ClassWithoutResourceRaisesAndCreateNewLoadsNothing) {
  RegisterWindowTestClasses();
  try {
    std::unique_ptr<TUiBareForm> form(TCustomForm::Create<TUiBareForm>(nullptr));
    FAIL();
  } catch (const EResNotFound& e) {
    EXPECT_EQ(e.Message(), "Resource TUIBAREFORM not found");
  }
  std::unique_ptr<TUiBareForm> bare(TCustomForm::CreateNew<TUiBareForm>(nullptr));
  EXPECT_EQ(bare->ComponentCount(), 0);
  std::unique_ptr<TForm> plain(TCustomForm::Create<TForm>(nullptr));
  EXPECT_EQ(plain->ComponentCount(), 0);
}

TEST(Forms, ParentedFormShowsInsideTheHostWindow) {
  RegisterWindowTestClasses();
  TForeignWindow host(500, 400);
  std::unique_ptr<TUiTestForm> form(TCustomForm::CreateParented<TUiTestForm>(host.handle));
  struct Sink {
    void Shown(TObject*) { ++shows; }
    int shows = 0;
  } sink;
  form->OnShow = TNotifyEvent::Of<&Sink::Shown>(&sink);
  EXPECT_FALSE(form->HandleAllocated());
  form->SetVisible(true);
  ASSERT_TRUE(form->HandleAllocated());
  HWND window = form->GetHandle();
  EXPECT_EQ(GetParent(window), host.handle);
  EXPECT_TRUE(GetWindowLongW(window, GWL_STYLE) & WS_CHILD);
  EXPECT_TRUE(IsWindowVisible(window));
  EXPECT_EQ(sink.shows, 1);
  RECT client{};
  GetClientRect(window, &client);
  EXPECT_EQ(client.right, 200);
  EXPECT_EQ(client.bottom, 120);
  auto* header = dynamic_cast<TUiPanel*>(form->FindComponent("Header"));
  auto* inner = dynamic_cast<TUiPanel*>(form->FindComponent("Inner"));
  ASSERT_TRUE(header->HandleAllocated());
  ASSERT_TRUE(inner->HandleAllocated());
  EXPECT_EQ(GetParent(inner->GetHandle()), header->GetHandle());
  // A click through the real window reaches the streamed handler.
  auto* body = dynamic_cast<TUiPanel*>(form->FindComponent("Body"));
  SendMessageW(body->GetHandle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(3, 3));
  SendMessageW(body->GetHandle(), WM_LBUTTONUP, 0, MAKELPARAM(3, 3));
  EXPECT_EQ(form->bodyClicks, 1);
  form->Hide();
  EXPECT_FALSE(IsWindowVisible(window));
}

TEST(Forms, CloseRunsOnCloseAndDoesWhatItAsks) {
  RegisterWindowTestClasses();
  TUiBareForm* form = TCustomForm::CreateNew<TUiBareForm>(nullptr);
  struct Sink {
    void Closing(TObject*, TCloseAction& action) { ++closes, action = next; }
    void Destroyed(TObject*) { ++destroys; }
    int closes = 0, destroys = 0;
    TCloseAction next = caHide;
  } sink;
  form->OnClose = TCloseEvent::Of<&Sink::Closing>(&sink);
  form->OnDestroy = TNotifyEvent::Of<&Sink::Destroyed>(&sink);
  form->Show();
  EXPECT_TRUE(IsWindowVisible(form->GetHandle()));
  SendMessageW(form->GetHandle(), WM_CLOSE, 0, 0);
  EXPECT_EQ(sink.closes, 1);
  EXPECT_FALSE(form->GetVisible());
  sink.next = caFree;
  form->Close();
  EXPECT_EQ(sink.destroys, 0);  // freed by the message loop, not under the code that closed it
  EXPECT_TRUE(PumpUntil([&] { return sink.destroys == 1; }));
}

namespace {

// A form of class TBase that releases itself in OnCreate, put first on gParentInOnCreate when
// there is one.
int gCreateReleases = 0;
TWinControl* gParentInOnCreate = nullptr;
template <typename TBase>
class TReleasedInOnCreate : public TBase {
 public:
  explicit TReleasedInOnCreate(TComponent* owner) : TBase(owner) {}
  ~TReleasedInOnCreate() override { ++gCreateReleases; }

 protected:
  void DoCreate() override {
    TBase::DoCreate();
    if (gParentInOnCreate != nullptr) this->SetParent(gParentInOnCreate);
    this->Release();
  }
};

}  // namespace

// A form released in its OnCreate is handed out whole, streamed or not, in a host's window or not,
// also put on a control that can have no window yet, and goes once the message loop runs.
TEST(Forms, AFormReleasedInOnCreateIsHandedOutWholeAndGoesWithTheLoop) {
  RegisterWindowTestClasses();
  TForeignWindow host(300, 200);
  std::unique_ptr<TUiPanel> unplaced(new TUiPanel(nullptr));  // on no form: no window to be had
  const std::vector<std::pair<const char*, std::function<TCustomForm*()>>> makes = {
      {"CreateNew", [] { return TCustomForm::CreateNew<TReleasedInOnCreate<TUiBareForm>>(nullptr); }},
      {"Create", [] { return TCustomForm::Create<TReleasedInOnCreate<TUiTestForm>>(nullptr); }},
      {"CreateParented", [&] { return TCustomForm::CreateParented<TReleasedInOnCreate<TUiTestForm>>(host.handle); }},
      {"CreateNew, put on a control that has no window to be had",
       [&] {
         gParentInOnCreate = unplaced.get();
         TCustomForm* form = TCustomForm::CreateNew<TReleasedInOnCreate<TUiBareForm>>(nullptr);
         gParentInOnCreate = nullptr;
         return form;
       }},
  };
  for (const auto& [name, make] : makes) {
    gCreateReleases = 0;
    TCustomForm* form = make();
    ASSERT_EQ(gCreateReleases, 0) << name;
    form->SetCaption(name);
    EXPECT_EQ(form->GetCaption(), name);
    EXPECT_TRUE(PumpUntil([] { return gCreateReleases == 1; })) << name;
  }
}

namespace {

struct TDestroySink {
  void Destroyed(TObject*) { ++destroys; }
  int destroys = 0;
};

}  // namespace

// A released form whose window goes before the loop handled the release (put on a control that
// has no window yet, taken out of its parent) goes with the loop all the same; so does one
// released in OnCreate, whose window was made to carry the release.
TEST(Forms, AReleasedFormWhoseWindowGoesBeforeTheLoopGoesWithTheLoop) {
  RegisterWindowTestClasses();
  TForeignWindow host(300, 200);
  std::unique_ptr<TUiBareForm> holder(TCustomForm::CreateNew<TUiBareForm>(nullptr));
  holder->SetParentWindow(host.handle);
  holder->Show();
  std::unique_ptr<TUiBareForm> hidden(TCustomForm::CreateNew<TUiBareForm>(nullptr));
  auto* windowless = new TUiPanel(hidden.get());  // no window until its form shows
  windowless->SetParent(hidden.get());
  const std::vector<std::pair<const char*, std::function<TCustomForm*()>>> cases = {
      {"put on a control without a window",
       [&] {
         TCustomForm* form = TCustomForm::CreateNew<TUiBareForm>(nullptr);
         form->Show();
         form->Release();
         form->SetParent(windowless);
         return form;
       }},
      {"taken out of its parent",
       [&] {
         TCustomForm* form = TCustomForm::CreateNew<TUiBareForm>(nullptr);
         form->SetParent(holder.get());
         form->Show();
         form->Release();
         form->SetParent(nullptr);
         return form;
       }},
      {"released in OnCreate, then put on a control without a window",
       [&] {
         TCustomForm* form = TCustomForm::CreateNew<TReleasedInOnCreate<TUiBareForm>>(nullptr);
         form->SetParent(windowless);
         return form;
       }},
  };
  for (const auto& [name, make] : cases) {
    TDestroySink sink;
    TCustomForm* form = make();
    form->OnDestroy = TNotifyEvent::Of<&TDestroySink::Destroyed>(&sink);
    ASSERT_FALSE(form->HandleAllocated()) << name;
    EXPECT_TRUE(PumpUntil([&] { return sink.destroys == 1; }, MachineBound(1000))) << name;
    if (sink.destroys == 0) delete form;
  }
  ASSERT_FALSE(hidden->HandleAllocated());
}

// However many forms of a thread wait so at once.
TEST(Forms, FortyReleasedFormsWhoseWindowsGoBeforeTheLoopAllGoWithTheLoop) {
  RegisterWindowTestClasses();
  TForeignWindow host(300, 200);
  std::unique_ptr<TUiBareForm> holder(TCustomForm::CreateNew<TUiBareForm>(nullptr));
  holder->SetParentWindow(host.handle);
  holder->Show();
  static TDestroySink sink;  // a form left waiting may yet go with a later test's loop
  for (int i = 0; i < 40; ++i) {
    TCustomForm* form = TCustomForm::CreateNew<TUiBareForm>(nullptr);
    form->OnDestroy = TNotifyEvent::Of<&TDestroySink::Destroyed>(&sink);
    form->SetParent(holder.get());
    form->Show();
    form->Release();
    form->SetParent(nullptr);
    ASSERT_FALSE(form->HandleAllocated());
  }
  PumpUntil([&] { return sink.destroys == 40; }, MachineBound(2000));
  EXPECT_EQ(sink.destroys, 40);
}

namespace {

class TBuiltMenu : public TPopupMenu {
 public:
  explicit TBuiltMenu(TComponent* owner) : TPopupMenu(owner) {}
  using TMenu::BuildMenu;
};

// A form in a host window with what a release can be asked from: a child panel, a timer and a
// menu of its own, and its window procedure. `seen` is how often it was freed right after the
// release was asked for; -1 before. A form freed under the handler that asked ends the program
// at once: its code would go on in freed memory.
struct TReleaseRig {
  void Destroyed(TObject*) { ++destroys; }
  void ReleaseNow(TObject*) {
    if (close) form->Close();
    else form->Release();
    seen = destroys;
    if (seen == 0) return;
    std::fprintf(stderr, "FAILED: the form was freed under the handler that released it\n");
    std::fflush(stderr);
    TerminateProcess(GetCurrentProcess(), 1);
  }
  void ReleaseOnDrop(TObject* sender, TObject*, int32_t, int32_t) { ReleaseNow(sender); }
  void Accept(TObject*, TObject*, int32_t, int32_t, TDragState, bool& accept) { accept = true; }
  void CloseFrees(TObject*, TCloseAction& action) { action = caFree; }
  TUiBareForm* form = nullptr;
  TUiPanel* panel = nullptr;
  int destroys = 0;
  int seen = -1;
  bool close = false;  // ReleaseNow closes with caFree instead
};

}  // namespace

// A form released while none of its code runs goes at once, with its window; so does one closed
// by code whose OnClose frees it, once OnClose has returned. Released or closed inside its own code
// it stays whole until that code has returned, and goes once the loop runs: from its window
// procedure (sent or performed), a child's handler, a timer or a menu command of its own, a drop
// onto one of its controls.
TEST(Forms, ReleaseFreesAtOnceUnlessCodeOfTheFormRuns) {
  RegisterWindowTestClasses();
  TForeignWindow host(400, 120);
  std::unique_ptr<TUiPanel> source(TWinControl::CreateParented<TUiPanel>(host.handle));
  source->SetBounds(250, 0, 100, 100);
  source->HandleNeeded();
  struct Case {
    const char* name;
    std::function<void(TReleaseRig&)> release;
    int freedAtOnce;
  };
  const std::vector<Case> cases = {
      {"by code",
       [](TReleaseRig& r) {
         r.form->Release();
         r.seen = r.destroys;
       },
       1},
      {"sent to its window",
       [](TReleaseRig& r) {
         r.form->OnActivate = TNotifyEvent::Of<&TReleaseRig::ReleaseNow>(&r);
         SendMessageW(r.form->GetHandle(), WM_ACTIVATE, WA_ACTIVE, 0);
       },
       0},
      {"performed",
       [](TReleaseRig& r) {
         r.form->OnActivate = TNotifyEvent::Of<&TReleaseRig::ReleaseNow>(&r);
         r.form->Perform(WM_ACTIVATE, WA_ACTIVE);
       },
       0},
      {"a child's click",
       [](TReleaseRig& r) {
         r.panel->OnClick = TNotifyEvent::Of<&TReleaseRig::ReleaseNow>(&r);
         SendMessageW(r.panel->GetHandle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(3, 3));
         SendMessageW(r.panel->GetHandle(), WM_LBUTTONUP, 0, MAKELPARAM(3, 3));
       },
       0},
      {"closed by code, freed by its OnClose once that returned",
       [](TReleaseRig& r) {
         r.form->OnClose = TCloseEvent::Of<&TReleaseRig::CloseFrees>(&r);
         r.form->Close();
         r.seen = r.destroys;
       },
       1},
      {"closed in a child's click",
       [](TReleaseRig& r) {
         r.form->OnClose = TCloseEvent::Of<&TReleaseRig::CloseFrees>(&r);
         r.close = true;
         r.panel->OnClick = TNotifyEvent::Of<&TReleaseRig::ReleaseNow>(&r);
         SendMessageW(r.panel->GetHandle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(3, 3));
         SendMessageW(r.panel->GetHandle(), WM_LBUTTONUP, 0, MAKELPARAM(3, 3));
       },
       0},
      {"its timer",
       [](TReleaseRig& r) {
         auto* timer = new TTimer(r.form);
         timer->SetInterval(1);
         timer->SetOnTimer(TNotifyEvent::Of<&TReleaseRig::ReleaseNow>(&r));
         PumpUntil([&] { return r.seen >= 0; });
       },
       0},
      {"its menu",
       [](TReleaseRig& r) {
         auto* menu = new TBuiltMenu(r.form);
         auto* item = new TMenuItem(r.form);
         menu->GetItems()->Add(item);
         item->OnClick = TNotifyEvent::Of<&TReleaseRig::ReleaseNow>(&r);
         DestroyMenu(menu->BuildMenu());
         menu->DispatchCommand(item->Command());
       },
       0},
      {"a drop on its panel",
       [&](TReleaseRig& r) {
         r.panel->OnDragOver = TDragOverEvent::Of<&TReleaseRig::Accept>(&r);
         r.panel->OnDragDrop = TDragDropEvent::Of<&TReleaseRig::ReleaseOnDrop>(&r);
         source->BeginDrag(true);
         POINT p{20, 20};
         MapWindowPoints(r.panel->GetHandle(), source->GetHandle(), &p, 1);
         const LPARAM at = MAKELPARAM(static_cast<WORD>(p.x), static_cast<WORD>(p.y));
         SendMessageW(source->GetHandle(), WM_MOUSEMOVE, MK_LBUTTON, at);
         SendMessageW(source->GetHandle(), WM_LBUTTONUP, 0, at);
       },
       0},
  };
  for (const Case& c : cases) {
    const TFailAfter bound(MachineBound(20000), c.name);  // a form freed under its own code may hang or crash
    TReleaseRig rig;
    rig.form = TCustomForm::CreateNew<TUiBareForm>(nullptr);
    rig.form->SetParentWindow(host.handle);
    rig.form->SetBounds(0, 0, 200, 100);
    rig.form->OnDestroy = TNotifyEvent::Of<&TReleaseRig::Destroyed>(&rig);
    rig.panel = new TUiPanel(rig.form);
    rig.panel->SetParent(rig.form);
    rig.panel->SetBounds(0, 0, 100, 100);
    rig.form->Show();
    const HWND window = rig.form->GetHandle();
    c.release(rig);
    EXPECT_EQ(rig.seen, c.freedAtOnce) << c.name;
    EXPECT_TRUE(PumpUntil([&] { return rig.destroys == 1; })) << c.name;
    EXPECT_FALSE(IsWindow(window)) << c.name;
  }
}

namespace {

// A form whose release is asked for inside its own code, which then runs a message loop before
// it returns. Freed while `inside`, that code would go on in freed memory: the program ends.
struct TLoopRig {
  void Destroyed(TObject*) {
    ++destroys;
    if (!inside) return;
    std::fprintf(stderr, "FAILED: a loop run inside the form's own code freed the released form\n");
    std::fflush(stderr);
    TerminateProcess(GetCurrentProcess(), 1);
  }
  void ReleaseAndPump(TObject*) {
    inside = true;
    form->Release();
    Application().ProcessMessages();
    inside = false;
  }
  void ReleaseAndEnd(TObject* timer) {
    static_cast<TTimer*>(timer)->SetEnabled(false);
    form->Release();
    form->SetModalResult(mrOk);
  }
  TUiBareForm* form = nullptr;
  int destroys = 0;
  bool inside = false;
};

}  // namespace

// The release waits for the form's code to return, not only for the next message loop: a loop
// that code runs itself (a dialog, ProcessMessages in a handler or in OnDestroy of a form it owns,
// the form's own modal loop) comes before the code returns.
TEST(Forms, ReleaseInsideItsCodeOutlivesTheLoopsThatCodeRuns) {
  RegisterWindowTestClasses();
  TForeignWindow host(400, 120);
  const std::vector<std::pair<const char*, std::function<void(TLoopRig&, TUiPanel*)>>> cases = {
      {"a loop in a child's click",
       [](TLoopRig& r, TUiPanel* panel) {
         panel->OnClick = TNotifyEvent::Of<&TLoopRig::ReleaseAndPump>(&r);
         SendMessageW(panel->GetHandle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(3, 3));
         SendMessageW(panel->GetHandle(), WM_LBUTTONUP, 0, MAKELPARAM(3, 3));
       }},
      {"a loop in OnDestroy of a form it owns",
       [](TLoopRig& r, TUiPanel*) {
         auto* inner = TCustomForm::CreateNew<TUiBareForm>(r.form);
         inner->OnDestroy = TNotifyEvent::Of<&TLoopRig::ReleaseAndPump>(&r);
         delete inner;
       }},
      {"its own modal loop",
       [](TLoopRig& r, TUiPanel*) {
         auto* timer = new TTimer(r.form);
         timer->SetInterval(1);
         timer->SetOnTimer(TNotifyEvent::Of<&TLoopRig::ReleaseAndEnd>(&r));
         r.form->Hide();
         r.inside = true;
         r.form->ShowModal();
         r.inside = false;
       }},
  };
  for (const auto& [name, run] : cases) {
    const TFailAfter bound(MachineBound(20000), name);
    TLoopRig rig;
    rig.form = TCustomForm::CreateNew<TUiBareForm>(nullptr);
    rig.form->SetParentWindow(host.handle);
    rig.form->SetBounds(0, 0, 200, 100);
    rig.form->OnDestroy = TNotifyEvent::Of<&TLoopRig::Destroyed>(&rig);
    auto* panel = new TUiPanel(rig.form);
    panel->SetParent(rig.form);
    panel->SetBounds(0, 0, 100, 100);
    rig.form->Show();
    run(rig, panel);
    EXPECT_TRUE(PumpUntil([&] { return rig.destroys == 1; })) << name;
  }
}

namespace {

// Releases a form from another thread while the form's own thread runs its code, and tells when
// the form was freed on that other thread under that code (the program then ends).
struct TOtherThreadRig {
  void Destroyed(TObject*) {
    ++destroys;
    freedOn = GetCurrentThreadId();
  }
  static DWORD WINAPI Release(void* form) {
    static_cast<TCustomForm*>(form)->Release();
    return 0;
  }
  void ReleaseElsewhere(TObject*) {
    WaitForReleaseElsewhere();
    if (destroys == 0) return;
    std::fprintf(stderr, "FAILED: another thread's release freed the form under its own thread's code\n");
    std::fflush(stderr);
    TerminateProcess(GetCurrentProcess(), 1);
  }
  void WaitForReleaseElsewhere() {
    HANDLE thread = CreateThread(nullptr, 0, &Release, form, 0, nullptr);
    const DWORD bound = MachineBound(10000);
    if (!handleSent) WaitForSingleObject(thread, bound);
    while (handleSent && MsgWaitForMultipleObjects(1, &thread, FALSE, bound, QS_SENDMESSAGE) == WAIT_OBJECT_0 + 1) {
      MSG msg;
      PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
    CloseHandle(thread);
  }
  // Run where a release and the loss of the form's window meet (kbl_detail::RunAtNextReleaseRace).
  static void ReleaseElsewhereAsItsWindowGoes(TCustomForm*, void* self) {
    static_cast<TOtherThreadRig*>(self)->ReleaseElsewhere(nullptr);
  }
  static void HostDestroysItsWindowNow(TCustomForm* form, void*) {
    SendMessageW(form->GetParentWindow(), WM_CLOSE, 0, 0);
  }
  void Tick(TObject*) {}
  TUiBareForm* form = nullptr;
  int destroys = 0;
  DWORD freedOn = 0;
  bool handleSent = false;  // the form's thread handles the messages sent to it while it waits
};

}  // namespace

// A release from another thread waits for the form's own thread also when the form's window is
// not made yet (a form not shown so far, whose job a worker finished at once).
TEST(Forms, ReleaseFromAnotherThreadWaitsForAFormWithoutItsWindow) {
  RegisterWindowTestClasses();
  const TFailAfter bound(MachineBound(20000), "a release from another thread");
  TOtherThreadRig rig;
  rig.form = TCustomForm::CreateNew<TUiBareForm>(nullptr);
  rig.form->OnDestroy = TNotifyEvent::Of<&TOtherThreadRig::Destroyed>(&rig);
  rig.form->OnActivate = TNotifyEvent::Of<&TOtherThreadRig::ReleaseElsewhere>(&rig);
  ASSERT_FALSE(rig.form->HandleAllocated());
  rig.form->Perform(WM_ACTIVATE, WA_ACTIVE);
  EXPECT_TRUE(PumpUntil([&] { return rig.destroys == 1; }));
}

// A form in a host's window released from another thread in the very instant the host destroys
// that window goes once, on its own thread, with that destruction: the host may unload the module
// as soon as that thread's loop is idle. The release comes as the window's last message has
// looked for one (the form's thread waiting blocked, or handling the messages sent to it), or the
// window goes as the release has read its handle. So does a form whose first window went and a
// second was made, released and then destroyed with the host's window.
TEST(Forms, AReleaseFromAnotherThreadAsTheHostDestroysTheFormsWindowFreesTheFormWithIt) {
  using kbl_detail::TReleaseRace;
  RegisterWindowTestClasses();
  const TFailAfter bound(MachineBound(20000), "a release from another thread as the form's window goes");
  const struct {
    const char* name;
    TReleaseRace at;
    bool handleSent;
  } cases[] = {
      {"released in the window's last message, blocked", TReleaseRace::WindowGoing, false},
      {"released in the window's last message, sent messages handled", TReleaseRace::WindowGoing, true},
      {"the window destroyed as the release has read its handle", TReleaseRace::HandleRead, true},
      {"a window made anew, released, then destroyed", TReleaseRace::None, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TForeignWindow host(300, 200);
    TOtherThreadRig rig;
    rig.handleSent = c.handleSent;
    rig.form = TCustomForm::CreateNew<TUiBareForm>(nullptr);
    rig.form->OnDestroy = TNotifyEvent::Of<&TOtherThreadRig::Destroyed>(&rig);
    rig.form->SetParentWindow(host.handle);
    rig.form->Show();
    auto* display = new TTimer(rig.form);  // an editor's display timer, which ticks on unless freed
    display->SetInterval(10);
    display->SetOnTimer(TNotifyEvent::Of<&TOtherThreadRig::Tick>(&rig));
    if (c.at == TReleaseRace::WindowGoing) {
      kbl_detail::RunAtNextReleaseRace(c.at, &TOtherThreadRig::ReleaseElsewhereAsItsWindowGoes, &rig);
      DestroyWindow(host.handle);
    } else if (c.at == TReleaseRace::None) {
      // The form's first window went as it left the host's window, and a second was made.
      rig.form->SetParentWindow(nullptr);
      rig.form->SetParentWindow(host.handle);
      rig.form->HandleNeeded();
      rig.WaitForReleaseElsewhere();
      DestroyWindow(host.handle);
    } else {
      kbl_detail::RunAtNextReleaseRace(c.at, &TOtherThreadRig::HostDestroysItsWindowNow, nullptr);
      rig.WaitForReleaseElsewhere();
    }
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, WM_TIMER - 1, PM_REMOVE) ||
           PeekMessageW(&msg, nullptr, WM_TIMER + 1, 0xFFFF, PM_REMOVE))
      DispatchMessageW(&msg);
    EXPECT_EQ(rig.destroys, 1);
    EXPECT_EQ(rig.freedOn, GetCurrentThreadId());
    if (rig.destroys == 0) delete rig.form;
  }
}

namespace {

// A host's guard that catches a crash inside a handler: its unwind goes past the class library's
// frames without running their destructors (the runtime's longjmp unwinds the system's way).
std::jmp_buf gHostCatch;
struct TCrashingHandler {
  void Crash(TObject*) { std::longjmp(gHostCatch, 1); }
};
struct TCrashOutcome {
  bool handlerReturned = false;
  bool codeStillRunning = true;
  int freedAtOnce = -1;
};

// What the class library does on that thread afterwards may fault: the program then ends with a
// message instead of starting a debugger.
LONG WINAPI EndOnFault(EXCEPTION_POINTERS*) {
  std::fprintf(stderr, "FAILED: a fault on the thread after a crash the host caught\n");
  std::fflush(stderr);
  TerminateProcess(GetCurrentProcess(), 1);
  return EXCEPTION_EXECUTE_HANDLER;
}

// On a thread of its own, whose frames end with it: a form's child crashes in its click, the
// host catches the crash, then the form is released by code.
DWORD WINAPI CrashCaughtByTheHost(void* outcome) {
  auto* out = static_cast<TCrashOutcome*>(outcome);
  TForeignWindow host(300, 100);
  TReleaseRig rig;
  rig.form = TCustomForm::CreateNew<TUiBareForm>(nullptr);
  rig.form->SetParentWindow(host.handle);
  rig.form->SetBounds(0, 0, 200, 100);
  rig.form->OnDestroy = TNotifyEvent::Of<&TReleaseRig::Destroyed>(&rig);
  rig.panel = new TUiPanel(rig.form);
  rig.panel->SetParent(rig.form);
  rig.panel->SetBounds(0, 0, 100, 100);
  rig.form->Show();
  TCrashingHandler crashing;
  rig.panel->OnClick = TNotifyEvent::Of<&TCrashingHandler::Crash>(&crashing);
  if (setjmp(gHostCatch) == 0) {
    SendMessageW(rig.panel->GetHandle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(3, 3));
    SendMessageW(rig.panel->GetHandle(), WM_LBUTTONUP, 0, MAKELPARAM(3, 3));
    out->handlerReturned = true;
  }
  out->codeStillRunning = ComponentCodeRunning(rig.form);
  rig.form->Release();
  out->freedAtOnce = rig.destroys;
  PumpUntil([&] { return rig.destroys == 1; });
  return 0;
}

}  // namespace

// A crash in a handler of a form that the host's own guard catches leaves none of the form's code
// running: released by code afterwards, the form goes at once, as any other.
TEST(Forms, ACrashCaughtByTheHostLeavesNoCodeOfTheFormRunning) {
  RegisterWindowTestClasses();
  const TFailAfter bound(MachineBound(20000), "a crash caught by the host");
  TCrashOutcome outcome;
  const LPTOP_LEVEL_EXCEPTION_FILTER before = SetUnhandledExceptionFilter(&EndOnFault);
  HANDLE thread = CreateThread(nullptr, 0, &CrashCaughtByTheHost, &outcome, 0, nullptr);
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  SetUnhandledExceptionFilter(before);
  EXPECT_FALSE(outcome.handlerReturned);
  EXPECT_FALSE(outcome.codeStillRunning);
  EXPECT_EQ(outcome.freedAtOnce, 1);
}

TEST(Forms, ShowModalEndsWithTheModalResult) {
  RegisterWindowTestClasses();
  std::unique_ptr<TUiBareForm> form(TCustomForm::CreateNew<TUiBareForm>(nullptr));
  TTimer closer(nullptr);
  closer.SetInterval(20);
  struct Sink {
    void Tick(TObject*) {
      if (form->Modal()) form->SetModalResult(mrOk);
    }
    TCustomForm* form;
  } sink{form.get()};
  closer.SetOnTimer(TNotifyEvent::Of<&Sink::Tick>(&sink));
  EXPECT_EQ(form->ShowModal(), mrOk);
  EXPECT_FALSE(form->GetVisible());
  EXPECT_FALSE(form->Modal());
  form->Show();
  EXPECT_THROW(form->ShowModal(), EInvalidOperation);
}

TEST(Forms, RepeatedParentedFormsLeaveNoWindowsOrClasses) {
  RegisterWindowTestClasses();
  TForeignWindow host;
  const int32_t before = CountThreadWindows();
  for (int round = 0; round < 25; ++round) {
    std::unique_ptr<TUiTestForm> form(TCustomForm::CreateParented<TUiTestForm>(host.handle));
    form->Show();
    PumpUntil([] { return false; }, 1);
    ASSERT_GT(CountThreadWindows(), before);
  }
  EXPECT_EQ(CountThreadWindows(), before);
  EXPECT_FALSE(WindowClassRegistered("TUiTestForm"));
  EXPECT_FALSE(WindowClassRegistered("TUiPanel"));
  EXPECT_FALSE(WindowClassRegistered("KblUtilityWindow"));
}

// A form resized by code from outside it (a host sizing its editor) runs its OnResize: a release
// asked for there waits for OnResize to return, as one asked in any other handler of the form.
TEST(Forms, ReleaseInOnResizeOfAResizeByCodeWaitsForOnResize) {
  RegisterWindowTestClasses();
  const TFailAfter bound(MachineBound(20000), "a release in OnResize");
  TReleaseRig rig;
  rig.form = TCustomForm::CreateNew<TUiBareForm>(nullptr);
  rig.form->OnDestroy = TNotifyEvent::Of<&TReleaseRig::Destroyed>(&rig);
  rig.form->OnResize = TNotifyEvent::Of<&TReleaseRig::ReleaseNow>(&rig);
  rig.form->SetBounds(0, 0, 300, 150);
  EXPECT_EQ(rig.seen, 0);
  EXPECT_TRUE(PumpUntil([&] { return rig.destroys == 1; }));
}

namespace {

// A form made on a thread that has ended since, with or without its window.
struct TEndedThreadRig {
  static DWORD WINAPI Make(void* self) {
    auto* r = static_cast<TEndedThreadRig*>(self);
    r->form = TCustomForm::CreateNew<TUiBareForm>(nullptr);
    r->form->OnDestroy = TNotifyEvent::Of<&TEndedThreadRig::Destroyed>(r);
    if (r->withWindow) r->form->HandleNeeded();
    return 0;
  }
  void Destroyed(TObject*) { ++destroys; }
  TUiBareForm* form = nullptr;
  bool withWindow = false;
  int destroys = 0;
};

}  // namespace

// No code of a form can run on a thread that has ended: released afterwards, the form goes (at
// once, or through the releasing thread's loop), and leaves nothing waiting for that thread.
TEST(Forms, ReleaseOfAFormWhoseThreadEndedFreesIt) {
  RegisterWindowTestClasses();
  std::unique_ptr<TUiBareForm> other(TCustomForm::CreateNew<TUiBareForm>(nullptr));
  for (const bool withWindow : {false, true}) {
    const char* name = withWindow ? "with its window" : "without a window";
    const TFailAfter bound(MachineBound(20000), name);
    TEndedThreadRig rig;
    rig.withWindow = withWindow;
    HANDLE thread = CreateThread(nullptr, 0, &TEndedThreadRig::Make, &rig, 0, nullptr);
    WaitForSingleObject(thread, MachineBound(10000));
    CloseHandle(thread);
    ASSERT_NE(rig.form, nullptr) << name;
    rig.form->Release();
    // Frames of this thread end and its loop runs meanwhile.
    EXPECT_TRUE(PumpUntil(
        [&] {
          other->Perform(WM_NULL, 0, 0);
          return rig.destroys == 1;
        },
        1000))
        << name;
    if (rig.destroys == 0) delete rig.form;  // leaves no entry for the next case
  }
}

namespace {

// A host that runs the form's code on a fiber of its own and switches back to its main fiber
// from inside it (the form's handler yields); the main fiber then releases the form.
struct TFiberRig {
  void Destroyed(TObject*) { ++destroys; }
  // Once: the form's window, made by then, may be activated again.
  void YieldToMain(TObject*) {
    if (yielded) return;
    yielded = true;
    SwitchToFiber(mainFiber);
  }
  static void WINAPI Run(void* self) {
    auto* r = static_cast<TFiberRig*>(self);
    r->form->Perform(WM_ACTIVATE, WA_ACTIVE);
    r->returned = true;
    SwitchToFiber(r->mainFiber);
  }
  static DWORD WINAPI Thread(void* self) {
    auto* r = static_cast<TFiberRig*>(self);
    r->mainFiber = ConvertThreadToFiber(nullptr);
    r->form = TCustomForm::CreateNew<TUiBareForm>(nullptr);
    r->form->OnDestroy = TNotifyEvent::Of<&TFiberRig::Destroyed>(r);
    r->form->OnActivate = TNotifyEvent::Of<&TFiberRig::YieldToMain>(r);
    void* fiber = CreateFiber(0, &TFiberRig::Run, r);
    SwitchToFiber(fiber);  // back when the handler yields
    r->form->Release();
    r->freedAtOnce = r->destroys;
    // Freed, the handler would go on in freed memory: its fiber is left where it stands.
    if (r->destroys == 0) {
      SwitchToFiber(fiber);
      PumpUntil([&] { return r->destroys == 1; });
    }
    DeleteFiber(fiber);
    ConvertFiberToThread();
    return 0;
  }
  void* mainFiber = nullptr;
  TUiBareForm* form = nullptr;
  int destroys = 0;
  int freedAtOnce = -1;
  bool yielded = false;
  bool returned = false;
};

}  // namespace

// The form's handler has not returned while its fiber waits: the thread still runs the form's
// code, and a release on another fiber of that thread waits for it.
TEST(Forms, ReleaseWhileTheFormsCodeWaitsOnAnotherFiberOfTheThreadKeepsIt) {
  RegisterWindowTestClasses();
  const TFailAfter bound(MachineBound(20000), "a release beside a waiting fiber");
  TFiberRig rig;
  HANDLE thread = CreateThread(nullptr, 0, &TFiberRig::Thread, &rig, 0, nullptr);
  WaitForSingleObject(thread, MachineBound(15000));
  CloseHandle(thread);
  EXPECT_EQ(rig.freedAtOnce, 0);
  EXPECT_TRUE(rig.returned);
  EXPECT_EQ(rig.destroys, 1);
}

namespace {

// A form waiting for a release asked from another thread, freed meanwhile by its owner, whose
// OnDestroy ends a frame of the form's thread (other code it calls).
struct TOwnerFreesRig {
  static DWORD WINAPI ReleaseFromAnotherThread(void* self) {
    static_cast<TOwnerFreesRig*>(self)->form->Release();
    return 0;
  }
  void Destroyed(TObject*) {
    ++destroys;
    other->Perform(WM_NULL, 0, 0);
    // A release taken up now would reach for the window of a form being freed (and make it).
    windowMade = form->HandleAllocated();
  }
  TUiBareForm* form = nullptr;
  TUiBareForm* other = nullptr;
  int destroys = 0;
  bool windowMade = false;
};

}  // namespace

// A form freed by its owner while a release waits for its code is freed once, as it is: the
// release is forgotten before the form's own destruction runs code.
TEST(Forms, AFormFreedByItsOwnerWhileAReleaseWaitsIsFreedOnce) {
  RegisterWindowTestClasses();
  const TFailAfter bound(MachineBound(20000), "an owner freeing a form a release waits for");
  std::unique_ptr<TUiBareForm> other(TCustomForm::CreateNew<TUiBareForm>(nullptr));
  auto* owner = TCustomForm::CreateNew<TUiBareForm>(nullptr);
  TOwnerFreesRig rig;
  rig.other = other.get();
  rig.form = TCustomForm::CreateNew<TUiBareForm>(owner);
  rig.form->OnDestroy = TNotifyEvent::Of<&TOwnerFreesRig::Destroyed>(&rig);
  HANDLE thread = CreateThread(nullptr, 0, &TOwnerFreesRig::ReleaseFromAnotherThread, &rig, 0, nullptr);
  WaitForSingleObject(thread, MachineBound(10000));
  CloseHandle(thread);
  ASSERT_EQ(rig.destroys, 0);
  delete owner;
  PumpUntil([] { return false; }, static_cast<int>(MachineBound(200)));
  EXPECT_EQ(rig.destroys, 1);
  EXPECT_FALSE(rig.windowMade);
}

namespace {

// On a fiber of its own, a host's guard catches a crash in the form's handler, then the fiber
// hands the thread back to its main fiber, which releases the form.
struct TFiberCrashRig {
  void Destroyed(TObject*) { ++destroys; }
  void Crash(TObject*) { std::longjmp(caught, 1); }
  static void WINAPI Run(void* self) {
    auto* r = static_cast<TFiberCrashRig*>(self);
    if (setjmp(r->caught) == 0) r->form->Perform(WM_ACTIVATE, WA_ACTIVE);
    SwitchToFiber(r->mainFiber);
  }
  static DWORD WINAPI Thread(void* self) {
    auto* r = static_cast<TFiberCrashRig*>(self);
    r->mainFiber = ConvertThreadToFiber(nullptr);
    r->form = TCustomForm::CreateNew<TUiBareForm>(nullptr);
    r->form->OnDestroy = TNotifyEvent::Of<&TFiberCrashRig::Destroyed>(r);
    r->form->OnActivate = TNotifyEvent::Of<&TFiberCrashRig::Crash>(r);
    void* fiber = CreateFiber(0, &TFiberCrashRig::Run, r);
    SwitchToFiber(fiber);
    r->codeStillRunning = ComponentCodeRunning(r->form);
    r->form->Release();
    // The loop's release waits for code it sees running: a stale frame would keep the form.
    r->freedByTheLoop = PumpUntil([&] { return r->destroys == 1; }, MachineBound(1000));
    if (r->destroys == 0) delete r->form;
    DeleteFiber(fiber);
    ConvertFiberToThread();
    return 0;
  }
  std::jmp_buf caught;
  void* mainFiber = nullptr;
  TUiBareForm* form = nullptr;
  int destroys = 0;
  bool codeStillRunning = true;
  bool freedByTheLoop = false;
};

}  // namespace

// The unwind of the caught crash ended the form's code on the other fiber: nothing of it runs
// on the thread, and a release there frees it with the loop.
TEST(Forms, ACrashCaughtOnAnotherFiberLeavesNoCodeOfTheFormRunning) {
  RegisterWindowTestClasses();
  const TFailAfter bound(MachineBound(20000), "a crash caught on another fiber");
  TFiberCrashRig rig;
  const LPTOP_LEVEL_EXCEPTION_FILTER before = SetUnhandledExceptionFilter(&EndOnFault);
  HANDLE thread = CreateThread(nullptr, 0, &TFiberCrashRig::Thread, &rig, 0, nullptr);
  WaitForSingleObject(thread, MachineBound(15000));
  CloseHandle(thread);
  SetUnhandledExceptionFilter(before);
  EXPECT_FALSE(rig.codeStillRunning);
  EXPECT_TRUE(rig.freedByTheLoop);
}
