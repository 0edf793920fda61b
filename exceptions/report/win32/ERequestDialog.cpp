// Win32 half of the request dialog and the send-progress dialog.
#include "ERequestDialog.h"

#include <windows.h>
#include <commctrl.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "EDeliverySupport.h"
#include "EDialogMachinery_p.h"
#include "EExceptionDialog.h"
#include "ELogManager.h"
#include "EWebApplication.h"
#include "classlib/SysUtils.h"
#include "exceptions/EmberModuleOptions.h"
#include "exceptions/capture/ExceptionLog.h"

namespace {

using namespace ember_dialogs;



// --- Request dialog

enum : int { kPrompt = 100, kSteps = 101 };

struct TRequestDialog {
  TDialogCommon Common;
};

void InitRequest(HWND window, TRequestDialog& dialog) {
  dialog.Common.Start(window, false, false);
  const TDialogFonts& fonts = dialog.Common.Fonts;
  dialog.Common.CaptionText = DialogText(123);
  SetWindowTextA(window, dialog.Common.CaptionText.c_str());
  SetDlgItemTextA(window, kPrompt, DialogText(124).c_str());
  SetDlgItemTextA(window, kSteps, DialogOptions() ? DialogOptions()->ReproduceText().c_str() : "");
  SetDlgItemTextA(window, IDCANCEL, DialogText(125).c_str());
  SetItemFont(window, kPrompt, fonts.Normal);
  SetItemFont(window, kSteps, fonts.Fixed);
  SetItemFont(window, IDCANCEL, fonts.Normal);

  RECT client;
  GetClientRect(window, &client);
  int w = client.right - 27;
  int h = MeasureTextHeight(window, fonts.Normal, DialogText(124), w);
  int e = client.bottom - 83 - h;
  RECT outer;
  GetWindowRect(window, &outer);
  SetWindowPos(window, nullptr, 0, 0, outer.right - outer.left, outer.bottom - outer.top + h - 10,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  MoveWindow(GetDlgItem(window, kPrompt), 10, 10, w, h, FALSE);
  MoveWindow(GetDlgItem(window, kSteps), 10, h + 14, w, e, FALSE);
  MoveWindow(GetDlgItem(window, IDCANCEL), w - 65, h + 20 + e, 75, 23, FALSE);
  StartAutoCloseTimer(dialog.Common);
  CenterWindowInRect(reinterpret_cast<uintptr_t>(window), DialogWorkArea());
  StartForegroundKeeper(dialog.Common);
  SetFocus(GetDlgItem(window, kSteps));
}

INT_PTR RequestDialog(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  TRequestDialog* dialog = nullptr;
  INT_PTR result = FALSE;
  if (DialogPrologue(window, message, wParam, lParam, dialog, result)) return result;
  if (message == WM_INITDIALOG) {
    InitRequest(window, *dialog);
    return FALSE;
  }
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT paint;
      BeginPaint(window, &paint);
      EmberDialogState().Shown = true;
      EndPaint(window, &paint);
      return TRUE;
    }
    case WM_COMMAND:
      if (LOWORD(wParam) == IDCANCEL) {
        if (TEmberModuleOptions* options = DialogOptions())
          options->SetReproduceText(TrimRight(GetDialogItemText(reinterpret_cast<uintptr_t>(window), kSteps)));
        EndDialog(window, 0);
        return TRUE;
      }
      return FALSE;
    case WM_CLOSE:
      SendMessageA(window, WM_COMMAND, IDCANCEL, 0);
      return TRUE;
    case WM_DESTROY:
      dialog->Common.Finish();
      return FALSE;
    default:
      return FALSE;
  }
}

INT_PTR CALLBACK RequestDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return Guarded(window, true, [&] { return RequestDialog(window, message, wParam, lParam); });
}

// --- Send-progress dialog

enum : int { kProgressText = 100, kProgressBar = 101 };

class TSendProgressDialog;

struct TServerDialog {
  TDialogCommon Common;
  TSendProgressDialog* Owner = nullptr;
  bool Centred = false;
  HBITMAP Send = nullptr;
};

// Asks of the send to its dialog's thread (beside EmberCloseSendDialogMessage).
enum : UINT { kShowTextMessage = WM_APP + 1, kSetPositionMessage = WM_APP + 2 };

// How long the send waits for its dialog's thread to come up, to answer or to end.
constexpr DWORD kDialogAnswerTime = 5000;

// The dialog on its own thread, and the senders' progress display that drives it. The send never
// waits for ever for that thread: one that does not answer in time (a fault in the dialog's code
// holds it where the send cannot see, perhaps waiting for this very send) is not asked again and
// is left to end on its own; the thread keeps this object alive for as long as it runs.
class TSendProgressDialog : public TEmberSendProgressView, public std::enable_shared_from_this<TSendProgressDialog> {
 public:
  explicit TSendProgressDialog(bool centred) : centred_(centred) {}
  ~TSendProgressDialog() override {
    // Never joined by itself: the last owner may be the thread, once the send left it.
    if (thread_.joinable()) thread_.detach();
  }

  // Starts the dialog's thread and waits until the dialog has the focus or the thread ended;
  // false when the dialog did not come up in time (the send goes on without it).
  bool Open() {
    const std::shared_ptr<TSendProgressDialog> self = shared_from_this();
    thread_ = std::thread([self] { self->Run(); });
    for (DWORD waited = 0; !ready_ && !ended_ && waited < kDialogAnswerTime; waited += 50) Sleep(50);
    if (!ready_) answering_ = false;
    return ready_;
  }
  void Close() {
    closing_ = true;
    if (HWND window = window_.load()) PostMessageA(window, EmberCloseSendDialogMessage, 0, 0);
    if (!thread_.joinable()) return;
    for (DWORD waited = 0; !ended_ && answering_ && waited < kDialogAnswerTime; waited += 10) Sleep(10);
    if (ended_)
      thread_.join();
    else
      thread_.detach();
    window_ = nullptr;
  }
  HWND Window() const { return window_.load(); }

  // The text is the dialog's to read when it is asked (an answer that comes late reads it still).
  void ShowMessage(const std::string& text) override {
    {
      std::lock_guard<std::mutex> guard(textLock_);
      text_ = text;
    }
    Ask(kShowTextMessage, 0);
  }
  void SetPosition(int32_t position) override { Ask(kSetPositionMessage, static_cast<WPARAM>(position)); }
  void CloseView() override { Close(); }

  // The dialog's window is up; answers whether it is to close at once (the send gave up on it).
  bool Attach(HWND window) {
    window_ = window;
    return closing_;
  }
  void MarkReady() { ready_ = true; }
  bool Centred() const { return centred_; }
  std::string Text() {
    std::lock_guard<std::mutex> guard(textLock_);
    return text_;
  }

 private:
  void Run() {
    // The send waits for this thread when it closes the dialog, holding the library lock: what
    // the dialog's code raises or catches is the library's own failure.
    ThreadVars().LibraryWork = 1;
    try {
      SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST);
      DialogBoxParamA(reinterpret_cast<HINSTANCE>(DialogResourceModule()), "EL_SERVER", nullptr, ServerDialogProc,
                      reinterpret_cast<LPARAM>(this));
    } catch (...) {
      // The send goes on without its display.
    }
    window_ = nullptr;
    ended_ = true;
  }
  void Ask(UINT message, WPARAM wParam) {
    HWND window = window_.load();
    DWORD_PTR answer = 0;
    if (window != nullptr && answering_ &&
        !SendMessageTimeoutA(window, message, wParam, 0, SMTO_NORMAL, kDialogAnswerTime, &answer))
      answering_ = false;
  }
  static INT_PTR CALLBACK ServerDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  bool centred_;
  std::thread thread_;
  std::atomic<HWND> window_{nullptr};
  std::atomic<bool> ready_{false};
  std::atomic<bool> ended_{false};
  std::atomic<bool> answering_{true};
  std::atomic<bool> closing_{false};
  std::mutex textLock_;
  std::string text_;
};

INT_PTR ServerDialog(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  TServerDialog* dialog = nullptr;
  INT_PTR result = FALSE;
  if (DialogPrologue(window, message, wParam, lParam, dialog, result)) return result;
  if (message == WM_INITDIALOG) {
    dialog->Owner = reinterpret_cast<TSendProgressDialog*>(lParam);
    dialog->Centred = dialog->Owner->Centred();
    dialog->Common.Start(window, !dialog->Centred, false);
    if (dialog->Owner->Attach(window)) PostMessageA(window, EmberCloseSendDialogMessage, 0, 0);
    dialog->Common.CaptionText = DialogText(110);
    SetWindowTextA(window, dialog->Common.CaptionText.c_str());
    SetItemFont(window, kProgressText, dialog->Common.Fonts.Normal);
    SetDlgItemTextA(window, kProgressText, "");
    SendDlgItemMessageA(window, kProgressBar, PBM_SETRANGE32, 0, 100);
    dialog->Send = LoadDialogBitmap("EL_SEND");
    TEmberRect area = DialogWorkArea();
    if (dialog->Centred) {
      CenterWindowInRect(reinterpret_cast<uintptr_t>(window), area);
      StartForegroundKeeper(dialog->Common);
    } else {
      RECT rect;
      GetWindowRect(window, &rect);
      SetWindowPos(window, nullptr, area.Right - (rect.right - rect.left), area.Bottom - (rect.bottom - rect.top), 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    return TRUE;
  }
  switch (message) {
    case WM_SETFOCUS:
      dialog->Owner->MarkReady();
      return FALSE;
    case WM_ACTIVATE:
      // A dialog shown without becoming active still counts as ready.
      dialog->Owner->MarkReady();
      return FALSE;
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(window, &paint);
      if (dialog->Send)
        DrawTransparentBitmap(reinterpret_cast<uintptr_t>(dc), reinterpret_cast<uintptr_t>(dialog->Send), 8, 8, 32, 32);
      EndPaint(window, &paint);
      dialog->Owner->MarkReady();
      return TRUE;
    }
    case kShowTextMessage:
      SetDlgItemTextA(window, kProgressText, dialog->Owner->Text().c_str());
      return TRUE;
    case kSetPositionMessage:
      SendDlgItemMessageA(window, kProgressBar, PBM_SETPOS, wParam, 0);
      return TRUE;
    case EmberCloseSendDialogMessage:
      EndDialog(window, 0);
      return TRUE;
    case WM_DESTROY:
      dialog->Common.Finish();
      if (dialog->Send) DeleteObject(dialog->Send);
      dialog->Send = nullptr;
      return FALSE;
    default:
      return FALSE;
  }
}

INT_PTR CALLBACK TSendProgressDialog::ServerDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return Guarded(window, true, [&] { return ServerDialog(window, message, wParam, lParam); });
}

std::shared_ptr<TSendProgressDialog> gSendDialog;

}  // namespace

void RunRequestDialog() {
  TEmberDialogState& state = EmberDialogState();
  state.Shown = false;
  try {
    DialogBoxParamA(reinterpret_cast<HINSTANCE>(DialogResourceModule()), "EL_REQUEST", nullptr, RequestDialogProc, 0);
  } catch (...) {
    ShowLibraryError(eeShowError, "GUI");
  }
  state.Shown = false;
}

void ShowRequestDialog() {
  const TEmberDialogState& state = EmberDialogState();
  const TEmberModuleOptions* options = DialogOptions();
  if (!options || !(options->LogOptions() & 0x02) || !IsGuiAllowed() || LogReportState().RepeatedReport) return;
  if (!(state.SendAsked || options->SaveLogFile()) || state.DialogFailed) return;
  RunRequestDialog();
}

void StartSendDialog(bool centred) {
  TEmberDialogState& state = EmberDialogState();
  CloseSendDialog();
  const TEmberModuleOptions* options = DialogOptions();
  SetDeliveryProgressView(nullptr, options);
  bool method = options && (options->EMailSendMode() != 0 || options->WebSendMode() != 0);
  if (!options || !(options->SendOptions() & 0x01) || !method || !IsGuiAllowed() || state.DialogFailed) {
    state.Shown = true;
    return;
  }
  try {
    INITCOMMONCONTROLSEX classes{sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&classes);
    gSendDialog = std::make_shared<TSendProgressDialog>(centred);
    if (gSendDialog->Open()) {
      SetDeliveryProgressView(gSendDialog.get(), options);
    } else {
      CloseSendDialog();
      state.Shown = true;
    }
  } catch (...) {
    ShowLibraryError(eeShowError, "GUI");
    gSendDialog.reset();
    state.Shown = true;
  }
}

void CloseSendDialog() {
  if (!gSendDialog) return;
  if (DeliveryProgress().View == gSendDialog.get()) SetDeliveryProgressView(nullptr, DialogOptions());
  gSendDialog->Close();
  gSendDialog.reset();
}

uintptr_t SendDialogWindow() {
  return gSendDialog ? reinterpret_cast<uintptr_t>(gSendDialog->Window()) : 0;
}
