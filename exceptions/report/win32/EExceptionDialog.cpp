// Win32 half of the dialog machinery: fonts, caption, timers, measuring and placement shared by
// every dialog, the launcher and the classic error dialog.
#include "EExceptionDialog.h"

#include <windows.h>
#include <commctrl.h>

#include <cmath>
#include <vector>

#include "EDialogMachinery_p.h"
#include "ELogManager.h"
#include "EObjectHelpers.h"
#include "ERequestDialog.h"
#include "ESendReport.h"
#include "ESupport.h"
#include "ESysUtils.h"
#include "EWebApplication.h"
#include "classlib/SysUtils.h"
#include "exceptions/ECore.h"
#include "exceptions/EmberModuleOptions.h"
#include "exceptions/capture/EmberLogEvents.h"
#include "exceptions/capture/ExceptionLog.h"

namespace {

uintptr_t gResourceModule = 0;


std::string StripAmpersands(const std::string& text) {
  std::string out;
  for (char c : text)
    if (c != '&') out += c;
  return out;
}

HFONT FontOf(const LOGFONTA& font) { return CreateFontIndirectA(&font); }

COLORREF Darker(COLORREF colour) {
  auto part = [](BYTE value) {
    long scaled = std::lround(value * 0.96);
    return static_cast<BYTE>(scaled > 255 ? 255 : scaled);
  };
  return RGB(part(GetRValue(colour)), part(GetGValue(colour)), part(GetBValue(colour)));
}

}  // namespace

// --- Charset and resources

void SetDialogResourceModule(uintptr_t module) { gResourceModule = module; }
uintptr_t DialogResourceModule() { return gResourceModule ? gResourceModule : GetThisModuleHandle(); }

TEmberRect DialogWorkArea() {
  const TEmberDialogState& state = EmberDialogState();
  if (state.WorkRight > state.WorkLeft && state.WorkBottom > state.WorkTop)
    return TEmberRect{state.WorkLeft, state.WorkTop, state.WorkRight, state.WorkBottom};
  return GetActiveWorkArea();
}

int32_t DialogCharset() { return static_cast<int32_t>(GetDefaultCharset()); }
std::string DialogFixedFace() { return DialogCharset() != ANSI_CHARSET ? "Courier New" : "Lucida Console"; }
int32_t DialogFontSize() { return DialogCharset() != ANSI_CHARSET ? 10 : 8; }

// --- Window helpers

void CenterWindowInRect(uintptr_t window, const TEmberRect& rect) {
  HWND handle = reinterpret_cast<HWND>(window);
  RECT own;
  if (!GetWindowRect(handle, &own)) return;
  int width = own.right - own.left, height = own.bottom - own.top;
  int left = rect.Left + (rect.Right - rect.Left - width) / 2;
  int top = rect.Top + (rect.Bottom - rect.Top - height) / 2;
  SetWindowPos(handle, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

std::string GetDialogItemText(uintptr_t window, int32_t id) {
  HWND item = GetDlgItem(reinterpret_cast<HWND>(window), id);
  if (!item) return std::string();
  int length = GetWindowTextLengthA(item);
  std::vector<char> text(static_cast<size_t>(length) + 2, '\0');
  int got = GetWindowTextA(item, text.data(), length + 1);
  return std::string(text.data(), got > 0 ? static_cast<size_t>(got) : 0);
}

void DrawTransparentBitmap(uintptr_t dc, uintptr_t bitmap, int32_t x, int32_t y, int32_t width, int32_t height) {
  HDC target = reinterpret_cast<HDC>(dc);
  HBITMAP source = reinterpret_cast<HBITMAP>(bitmap);
  if (!target || !source) return;
  HDC image = CreateCompatibleDC(target);
  HDC mask = CreateCompatibleDC(target);
  HBITMAP maskBitmap = CreateBitmap(width, height, 1, 1, nullptr);
  HGDIOBJ oldImage = SelectObject(image, source);
  HGDIOBJ oldMask = SelectObject(mask, maskBitmap);
  // The mask is white where the image has the key colour (its top-left pixel).
  COLORREF key = GetPixel(image, 0, 0);
  COLORREF oldBack = SetBkColor(image, key);
  BitBlt(mask, 0, 0, width, height, image, 0, 0, SRCCOPY);
  SetBkColor(image, oldBack);
  // Cut the shape out of the background, then paint the image where the key colour is not.
  COLORREF oldText = SetTextColor(target, RGB(0, 0, 0));
  COLORREF oldTargetBack = SetBkColor(target, RGB(255, 255, 255));
  BitBlt(target, x, y, width, height, mask, 0, 0, SRCAND);
  // A copy of the image with the key colour turned black (mask bits 1 map to the black background).
  HDC keyed = CreateCompatibleDC(target);
  HBITMAP keyedBitmap = CreateCompatibleBitmap(target, width, height);
  HGDIOBJ oldKeyed = SelectObject(keyed, keyedBitmap);
  BitBlt(keyed, 0, 0, width, height, image, 0, 0, SRCCOPY);
  SetBkColor(keyed, RGB(0, 0, 0));
  SetTextColor(keyed, RGB(255, 255, 255));
  BitBlt(keyed, 0, 0, width, height, mask, 0, 0, SRCAND);
  BitBlt(target, x, y, width, height, keyed, 0, 0, SRCPAINT);
  SetTextColor(target, oldText);
  SetBkColor(target, oldTargetBack);
  SelectObject(keyed, oldKeyed);
  DeleteObject(keyedBitmap);
  DeleteDC(keyed);
  SelectObject(image, oldImage);
  SelectObject(mask, oldMask);
  DeleteObject(maskBitmap);
  DeleteDC(image);
  DeleteDC(mask);
}

// --- Settings file

std::string ReadRememberedEmail() { return ReadIniString(EmberDialogIniFile, "User", "Email"); }

void StoreUserEmail(const std::string& email) {
  ApplyUserEmail(email);
  ember_dialogs::WriteDialogSetting("User", "Email", email);
}

namespace ember_dialogs {

// --- Fonts

void TDialogFonts::Create() {
  Delete();
  int32_t charset = DialogCharset();
  std::string face1 = charset != ANSI_CHARSET ? "MS Sans Serif" : "Verdana";
  std::string face2 = charset != ANSI_CHARSET ? "Courier New" : "Lucida Console";
  std::string face3 = charset != ANSI_CHARSET ? "Courier New" : "Tahoma";
  int size = DialogFontSize();
  // The structure as older systems know it: its size decides what the system fills in.
  std::vector<uint8_t> buffer(sizeof(NONCLIENTMETRICSA) + 16, 0);
  auto* metrics = reinterpret_cast<NONCLIENTMETRICSA*>(buffer.data());
  metrics->cbSize = 340;
  if (!SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, 340, metrics, 0)) {
    GetObjectA(GetStockObject(DEFAULT_GUI_FONT), sizeof(LOGFONTA), &metrics->lfMessageFont);
    metrics->lfCaptionFont = metrics->lfMessageFont;
  }
  LOGFONTA title{};
  title.lfHeight = metrics->lfCaptionFont.lfHeight;
  title.lfWeight = FW_BOLD;
  title.lfCharSet = DEFAULT_CHARSET;
  title.lfOutPrecision = OUT_TT_PRECIS;
  title.lfQuality = DRAFT_QUALITY;
  title.lfPitchAndFamily = VARIABLE_PITCH | FF_SWISS;
  lstrcpynA(title.lfFaceName, face1.c_str(), LF_FACESIZE);
  Title = FontOf(title);
  LOGFONTA message = metrics->lfMessageFont;
  Normal = FontOf(message);
  LOGFONTA variant = message;
  variant.lfUnderline = TRUE;
  variant.lfWeight = FW_BOLD;
  UnderlinedBold = FontOf(variant);
  variant.lfWeight = 0;
  Link = FontOf(variant);
  variant.lfUnderline = FALSE;
  variant.lfWeight = FW_BOLD;
  Bold = FontOf(variant);
  HDC screen = GetDC(nullptr);
  int height = -MulDiv(size, GetDeviceCaps(screen, LOGPIXELSY), 72);
  ReleaseDC(nullptr, screen);
  LOGFONTA fixed{};
  fixed.lfHeight = height;
  fixed.lfWeight = FW_NORMAL;
  fixed.lfCharSet = DEFAULT_CHARSET;
  fixed.lfPitchAndFamily = FIXED_PITCH | FF_MODERN;
  lstrcpynA(fixed.lfFaceName, face2.c_str(), LF_FACESIZE);
  Fixed = FontOf(fixed);
  lstrcpynA(fixed.lfFaceName, face3.c_str(), LF_FACESIZE);
  Fixed2 = FontOf(fixed);
}

void TDialogFonts::Delete() {
  for (HFONT* font : {&Title, &Normal, &Bold, &UnderlinedBold, &Link, &Fixed, &Fixed2}) {
    if (*font) DeleteObject(*font);
    *font = nullptr;
  }
}

// --- Window preparation and caption

uint16_t CurrentDialogFlags() { return DialogOptions() ? DialogOptions()->DialogFlags() : 0; }
uint8_t CurrentLogOptions() { return DialogOptions() ? DialogOptions()->LogOptions() : 0; }

bool CustomLookOn() { return (CurrentDialogFlags() & 0x40) != 0; }

int PrepareDialogWindow(HWND window, bool keepToolCaption, bool classic) {
  int captionHeight;
  if ((!CustomLookOn() || classic) && !keepToolCaption) {
    LONG exStyle = GetWindowLongA(window, GWL_EXSTYLE);
    SetWindowLongA(window, GWL_EXSTYLE, exStyle & ~WS_EX_TOOLWINDOW);
    captionHeight = GetSystemMetrics(SM_CYCAPTION);
  } else {
    captionHeight = GetSystemMetrics(SM_CYSMCAPTION);
  }
  HWND order = (CurrentDialogFlags() & 0x20) ? HWND_TOPMOST : nullptr;
  RECT rect;
  GetWindowRect(window, &rect);
  int height = rect.bottom - rect.top - 18 + captionHeight;
  SetWindowPos(window, order, 0, 0, rect.right - rect.left, height,
               SWP_NOMOVE | SWP_FRAMECHANGED | SWP_NOACTIVATE | (order ? 0 : SWP_NOZORDER));
  return captionHeight;
}

void PaintDialogCaption(TDialogCommon& dialog) {
  if (!dialog.CustomLook) return;
  HWND window = dialog.Window;
  RECT outer;
  GetWindowRect(window, &outer);
  int width = outer.right - outer.left, height = outer.bottom - outer.top;
  int frameX = GetSystemMetrics((GetWindowLongA(window, GWL_STYLE) & WS_THICKFRAME) ? SM_CXFRAME : SM_CXDLGFRAME);
  int frameY = GetSystemMetrics((GetWindowLongA(window, GWL_STYLE) & WS_THICKFRAME) ? SM_CYFRAME : SM_CYDLGFRAME);
  RECT band{frameX, frameY, width - frameX, frameY + dialog.CaptionHeight};
  HDC dc = GetWindowDC(window);
  if (!dc) return;
  COLORREF colour = dialog.Active ? 0x00C29B82 : 0x00979797;
  int steps = dialog.CaptionHeight / 5;
  for (int i = 0; i < steps || i == 0; ++i) {
    RECT part{band.left, band.top + 2 * i, band.right, band.bottom - 2 * i};
    if (part.bottom <= part.top) break;
    HBRUSH brush = CreateSolidBrush(colour);
    FillRect(dc, &part, brush);
    DeleteObject(brush);
    colour = Darker(colour);
  }
  HBRUSH frame = CreateSolidBrush(dialog.Active ? 0x404040 : 0x303030);
  FrameRect(dc, &band, frame);
  DeleteObject(frame);
  HBRUSH border = CreateSolidBrush(dialog.Active ? 0x808080 : 0x606060);
  RECT all{0, 0, width, height};
  FrameRect(dc, &all, border);
  DeleteObject(border);
  HGDIOBJ oldFont = SelectObject(dc, dialog.Fonts.Title);
  SetBkMode(dc, TRANSPARENT);
  RECT text = band;
  text.left += dialog.Active ? 5 : 4;
  text.top += 1;
  text.bottom += 1;
  UINT format = DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS;
  if (dialog.Active) {
    SetTextColor(dc, 0x222222);
    DrawTextA(dc, dialog.CaptionText.c_str(), -1, &text, format);
    OffsetRect(&text, -1, -1);
    SetTextColor(dc, 0xFFFFFF);
  } else {
    OffsetRect(&text, 0, -1);
    SetTextColor(dc, 0xE0E0E0);
  }
  DrawTextA(dc, dialog.CaptionText.c_str(), -1, &text, format);
  SelectObject(dc, oldFont);
  ReleaseDC(window, dc);
}

void TDialogCommon::Start(HWND window, bool keepToolCaption, bool classic) {
  Window = window;
  Active = true;
  CustomLook = CustomLookOn() && !classic;
  CaptionHeight = PrepareDialogWindow(window, keepToolCaption, classic);
  Fonts.Create();
  Background = GetSysColorBrush(COLOR_BTNFACE);
  OwnBackground = false;
}

void TDialogCommon::Finish() {
  StopAutoCloseTimer(*this);
  StopForegroundKeeper(*this);
  KillTimer(Window, kFirstPaintTimer);
  Fonts.Delete();
  if (OwnBackground && Background) DeleteObject(Background);
  Background = nullptr;
}

// --- Timers

void StartAutoCloseTimer(TDialogCommon& dialog) {
  dialog.AutoCloseCount = 0;
  if (DialogOptions() && DialogOptions()->AutoCloseTimeout() > 0) SetTimer(dialog.Window, kAutoCloseTimer, 1000, nullptr);
}

void StopAutoCloseTimer(TDialogCommon& dialog) { KillTimer(dialog.Window, kAutoCloseTimer); }

void StartForegroundKeeper(TDialogCommon& dialog) {
  RefreshOwnWindows();
  dialog.KeepsForeground = true;
  SetTimer(dialog.Window, kForegroundTimer, 10, nullptr);
}

void StopForegroundKeeper(TDialogCommon& dialog) {
  if (!dialog.KeepsForeground) return;
  KillTimer(dialog.Window, kForegroundTimer);
  dialog.KeepsForeground = false;
}

namespace {

// How long the first-paint check waits for a window that is not visible.
constexpr UINT kShowWait = 5000;  // ms

}  // namespace

// The modal loop shows the window only when its queue first runs empty, which a loaded machine
// may delay; a short timer started before that would be taken first and judge a dialog that was
// never given the chance to paint. Once the window is visible, its first paint comes before any
// timer. A window whose show is refused (by a hook of the host's, say) never becomes visible:
// the long first interval still ends it as not shown, so that the exception's processing falls
// back to the message box instead of waiting for ever on a dialog no one can see.
void StartFirstPaintCheck(TDialogCommon& dialog) {
  dialog.ChecksFirstPaint = true;
  dialog.Minimised = IsIconic(dialog.Window) != FALSE;
  const bool paintComes = IsWindowVisible(dialog.Window) && !dialog.Minimised;
  SetTimer(dialog.Window, kFirstPaintTimer, paintComes ? 1 : kShowWait, nullptr);
}

namespace {

bool ResetsCountdown(UINT message) {
  switch (message) {
    case WM_COMMAND: case WM_NOTIFY:
    case WM_NCLBUTTONDOWN: case WM_NCLBUTTONDBLCLK: case WM_NCRBUTTONDOWN: case WM_NCRBUTTONDBLCLK:
    case WM_NCMBUTTONDOWN: case WM_NCMBUTTONDBLCLK:
    case WM_LBUTTONDOWN: case WM_LBUTTONDBLCLK: case WM_RBUTTONDOWN: case WM_RBUTTONDBLCLK:
    case WM_MBUTTONDOWN: case WM_MBUTTONDBLCLK: case WM_MOUSEWHEEL:
      return true;
    default:
      return false;
  }
}

// A window of this process that was there when the dialog started (a message box the dialog
// opened later is left alone) and covers the dialog.
bool ShouldTakeForeground(HWND dialog) {
  if (GetWindowLongA(dialog, GWL_EXSTYLE) & WS_EX_TOPMOST) return false;
  HWND foreground = GetForegroundWindow();
  if (!foreground || foreground == dialog) return false;
  uintptr_t handle = reinterpret_cast<uintptr_t>(foreground);
  return IsOwnWindow(handle) && !IsNewWindow(handle);
}

}  // namespace

bool HandleCommonMessage(TDialogCommon& dialog, UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) {
  if (ResetsCountdown(message)) dialog.AutoCloseCount = 0;
  switch (message) {
    case WM_TIMER:
      if (wParam == kAutoCloseTimer) {
        ++dialog.AutoCloseCount;
        if (DialogOptions() && dialog.AutoCloseCount >= DialogOptions()->AutoCloseTimeout()) {
          StopAutoCloseTimer(dialog);
          PostMessageA(dialog.Window, WM_CLOSE, 0, 0);
        }
        result = TRUE;
        return true;
      }
      if (wParam == kForegroundTimer) {
        if (ShouldTakeForeground(dialog.Window)) SetForegroundWindow(dialog.Window);
        result = TRUE;
        return true;
      }
      if (wParam == kFirstPaintTimer) {
        KillTimer(dialog.Window, kFirstPaintTimer);
        if (!EmberDialogState().Shown) EndFailedDialog(dialog.Window);
        result = TRUE;
        return true;
      }
      return false;
    case WM_WINDOWPOSCHANGED: {
      // The first-paint check comes due once the window is visible (see StartFirstPaintCheck). A
      // window hidden or minimised before its first paint has no paint coming: the check waits
      // again as for a window not shown yet, so that one shown or restored in time still paints
      // first.
      const UINT flags = reinterpret_cast<const WINDOWPOS*>(lParam)->flags;
      if (!dialog.ChecksFirstPaint || EmberDialogState().Shown) return false;
      const bool minimised = IsIconic(dialog.Window) != FALSE;
      if ((flags & (SWP_SHOWWINDOW | SWP_HIDEWINDOW)) || minimised != dialog.Minimised) {
        const bool paintComes = IsWindowVisible(dialog.Window) && !minimised;
        SetTimer(dialog.Window, kFirstPaintTimer, paintComes ? 1 : kShowWait, nullptr);
      }
      dialog.Minimised = minimised;
      return false;
    }
    case WM_NCPAINT:
      if (!dialog.CustomLook) return false;
      DefWindowProcA(dialog.Window, message, wParam, lParam);
      PaintDialogCaption(dialog);
      SetWindowLongPtrA(dialog.Window, DWLP_MSGRESULT, 0);
      result = TRUE;
      return true;
    case WM_NCACTIVATE:
      if (!dialog.CustomLook) return false;
      dialog.Active = wParam != 0;
      DefWindowProcA(dialog.Window, message, wParam, lParam);
      PaintDialogCaption(dialog);
      SetWindowLongPtrA(dialog.Window, DWLP_MSGRESULT, TRUE);
      result = TRUE;
      return true;
    case WM_CTLCOLORDLG:
      result = reinterpret_cast<INT_PTR>(dialog.Background);
      return true;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
      // Labels and check boxes stand on the dialog's own colour.
      if (!dialog.OwnBackground) return false;
      SetBkColor(reinterpret_cast<HDC>(wParam), dialog.BackgroundColour);
      result = reinterpret_cast<INT_PTR>(dialog.Background);
      return true;
    default:
      return false;
  }
}

bool WriteDialogSetting(const std::string& section, const std::string& key, const std::string& value) {
  ForceFolders(GetLibraryFolder());
  return WriteIniString(EmberDialogIniFile, section, key, value);
}

bool CustomButtonClosesDialog() {
  uint8_t closeDialog = 0;
  SynchronizeExceptionCall([&closeDialog] {
    try {
      RaiseCustomButtonClickEvent(closeDialog);
    } catch (...) {
      // a handler that fails leaves the dialog open
    }
  });
  return closeDialog != 0;
}

void EndFailedDialog(HWND window) {
  EmberDialogState().DialogType = EmberDialogNone;
  EndDialog(window, 0);
}

// Input queued while the dialog's thread was held reaches a visible window before its first
// paint: a choice made that way was made on a window the user could see, and must not bring the
// message box as well.
void EndChosenDialog(HWND window) {
  if (IsWindowVisible(window)) EmberDialogState().Shown = true;
  EndDialog(window, 0);
}

POINT MessagePoint(LPARAM lParam) { return POINT{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))}; }

bool TrackLinkHover(HWND window, LPARAM lParam, bool shown, const RECT& rect) {
  const POINT point = MessagePoint(lParam);
  const bool over = shown && PtInRect(&rect, point);
  if (over) InvalidateRect(window, &rect, FALSE);
  return over;
}

bool SetLinkCursor(HWND window, WPARAM wParam, bool overLink) {
  if (!overLink || reinterpret_cast<HWND>(wParam) != window) return false;
  SetCursor(LoadCursorA(nullptr, (IsWindows95() || IsWindowsNT4()) ? IDC_ARROW : IDC_HAND));
  SetWindowLongPtrA(window, DWLP_MSGRESULT, TRUE);
  return true;
}

// --- Texts and placement

namespace {

struct TMeasureContext {
  HDC Dc;
};

int32_t WordWidthOf(const std::string& word, void* data) {
  SIZE size{};
  GetTextExtentPoint32A(static_cast<TMeasureContext*>(data)->Dc, word.c_str(), static_cast<int>(word.size()), &size);
  return size.cx;
}

}  // namespace

int MeasureTextHeight(HWND window, HFONT font, const std::string& text, int width) {
  HDC dc = GetDC(window);
  HGDIOBJ old = SelectObject(dc, font);
  TEXTMETRICA metrics{};
  GetTextMetricsA(dc, &metrics);
  TMeasureContext context{dc};
  int height = WrappedTextHeight(text, width, metrics.tmHeight, WordWidthOf, &context);
  SelectObject(dc, old);
  ReleaseDC(window, dc);
  return height;
}

int MeasureTextWidth(HWND window, HFONT font, const std::string& text) {
  HDC dc = GetDC(window);
  HGDIOBJ old = SelectObject(dc, font);
  SIZE size{};
  GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &size);
  SelectObject(dc, old);
  ReleaseDC(window, dc);
  return size.cx;
}

int FontLineHeight(HWND window, HFONT font) {
  HDC dc = GetDC(window);
  HGDIOBJ old = SelectObject(dc, font);
  TEXTMETRICA metrics{};
  GetTextMetricsA(dc, &metrics);
  SelectObject(dc, old);
  ReleaseDC(window, dc);
  return metrics.tmHeight;
}

int ButtonWidth(HWND window, HFONT font, const std::string& caption) {
  int width = MeasureTextWidth(window, font, StripAmpersands(caption)) + 16 + 4 * GetSystemMetrics(SM_CYBORDER);
  return width < 75 ? 75 : width;
}

int PlaceText(HWND dialog, int id, HFONT font, int x, int& y, int width, bool advance) {
  int height = MeasureTextHeight(dialog, font, GetDialogItemText(reinterpret_cast<uintptr_t>(dialog), id), width) + 1;
  MoveWindow(GetDlgItem(dialog, id), x, y, width, height, FALSE);
  if (advance) y += height;
  return height;
}

void SetItemFont(HWND dialog, int id, HFONT font) {
  SendDlgItemMessageA(dialog, id, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
}

void ShowItem(HWND dialog, int id, bool show) { ShowWindow(GetDlgItem(dialog, id), show ? SW_SHOWNA : SW_HIDE); }

bool IsChecked(HWND dialog, int id) { return IsDlgButtonChecked(dialog, id) == BST_CHECKED; }

HBITMAP LoadDialogBitmap(const char* name) {
  return LoadBitmapA(reinterpret_cast<HINSTANCE>(DialogResourceModule()), name);
}

SIZE BitmapSize(HBITMAP bitmap) {
  BITMAP info{};
  if (!bitmap || !GetObjectA(bitmap, sizeof info, &info)) return SIZE{0, 0};
  return SIZE{info.bmWidth, info.bmHeight};
}

}  // namespace ember_dialogs

// --- The classic dialog

namespace {

using namespace ember_dialogs;

enum : int {
  kHeader = 102,
  kMessage = 103,
  kRestart = 104,
  kTellUs = 105,
  kCreated = 106,
  kSeeData = 107,
  kDoing = 108,
  kReproduce = 109,
  kEmailLabel = 110,
  kEmail = 111,
  kSend = 1000,
  kDontSend = 1001,
  kHelp = 1002
};

// The message edit shows at most this many lines; longer messages scroll.
constexpr int kMessageLines = 8;

struct TClassicDialog {
  TDialogCommon Common;
  bool CanSend = false;
  HBITMAP Error = nullptr;
  RECT LinkRect{};
  bool OverLink = false;
};

bool LinkShown() { return (CurrentDialogFlags() & 0x08) != 0; }

void LayOutClassic(HWND window, TClassicDialog& dialog) {
  TEmberDialogState& state = EmberDialogState();
  const TDialogFonts& fonts = dialog.Common.Fonts;
  const TEmberModuleOptions* options = DialogOptions();
  auto text = [](int32_t index) { return DialogText(index); };

  SetDlgItemTextA(window, kHeader, text(26).c_str());
  SetDlgItemTextA(window, kMessage, GetDialogMessage().c_str());
  SetDlgItemTextA(window, kRestart, text(options && options->TerminateAction() == 1 ? 28 : 27).c_str());
  SetDlgItemTextA(window, kTellUs, text(29).c_str());
  SetDlgItemTextA(window, kCreated, text(30).c_str());
  SetDlgItemTextA(window, kSeeData, (text(31) + " ").c_str());
  SetDlgItemTextA(window, kDoing, text(33).c_str());
  SetDlgItemTextA(window, kEmailLabel, (text(34) + " ").c_str());
  SetDlgItemTextA(window, kHelp, text(21).c_str());
  SetDlgItemTextA(window, kSend, text(35).c_str());
  std::string dontSend = text(!state.SendAsked || !dialog.CanSend ? 17 : 36);
  SetDlgItemTextA(window, kDontSend, dontSend.c_str());

  // Header on the white band.
  int headerHeight = MeasureTextHeight(window, fonts.Bold, text(26), 356) + 1;
  MoveWindow(GetDlgItem(window, kHeader), 8, (51 - headerHeight) / 2, 356, headerHeight, FALSE);

  int y = 59;
  {
    int lineHeight = FontLineHeight(window, fonts.Normal);
    int height = MeasureTextHeight(window, fonts.Normal, GetDialogMessage(), 397) + 1;
    if (height > kMessageLines * lineHeight + 1) {
      height = kMessageLines * lineHeight + 1;
      LONG style = GetWindowLongA(GetDlgItem(window, kMessage), GWL_STYLE);
      SetWindowLongA(GetDlgItem(window, kMessage), GWL_STYLE, style | WS_VSCROLL);
    }
    MoveWindow(GetDlgItem(window, kMessage), 8, y, 397, height, FALSE);
    y += height;
  }
  if (ShouldOfferTerminate()) {
    y += 10;
    PlaceText(window, kRestart, fonts.Normal, 8, y, 397, true);
  } else {
    ShowItem(window, kRestart, false);
  }
  if (dialog.CanSend) {
    y += 10;
    PlaceText(window, kTellUs, fonts.Bold, 8, y, 397, true);
    y += 2;
    PlaceText(window, kCreated, fonts.Normal, 8, y, 397, true);
  } else {
    ShowItem(window, kTellUs, false);
    ShowItem(window, kCreated, false);
  }
  if (LinkShown()) {
    y += 12;
    std::string lead = text(31) + " ";
    int leadWidth = MeasureTextWidth(window, fonts.Normal, lead);
    int linkStart = leadWidth + 8;
    int top = y;
    int lineHeight = FontLineHeight(window, fonts.Normal) + 1;
    MoveWindow(GetDlgItem(window, kSeeData), 8, y, leadWidth + 2, lineHeight, FALSE);
    y += lineHeight;
    std::string link = text(32);
    dialog.LinkRect = RECT{linkStart, top, linkStart + MeasureTextWidth(window, fonts.Link, link),
                           top + FontLineHeight(window, fonts.Link)};
  } else {
    ShowItem(window, kSeeData, false);
  }
  if (options && (options->LogOptions() & 0x02)) {
    y += 12;
    PlaceText(window, kDoing, fonts.Normal, 8, y, 397, true);
    y += 2;
    int height = 8 * GetSystemMetrics(SM_CYBORDER) + 4 * FontLineHeight(window, fonts.Fixed);
    MoveWindow(GetDlgItem(window, kReproduce), 8, y, 397, height, FALSE);
    y += height - 4;
  } else {
    ShowItem(window, kDoing, false);
    ShowItem(window, kReproduce, false);
  }
  if (dialog.CanSend && !(options && options->EMailSendMode() == 1 && options->WebSendMode() == 0)) {
    y += 12;
    std::string label = text(34) + " ";
    int labelWidth = MeasureTextWidth(window, fonts.Normal, label);
    int editHeight = 8 * GetSystemMetrics(SM_CYBORDER) + FontLineHeight(window, fonts.Normal);
    MoveWindow(GetDlgItem(window, kEmail), labelWidth + 8, y, 397 - labelWidth, editHeight, FALSE);
    int labelHeight = FontLineHeight(window, fonts.Normal) + 1;
    MoveWindow(GetDlgItem(window, kEmailLabel), 8, y + (editHeight - labelHeight) / 2, labelWidth + 2, labelHeight,
               FALSE);
    y += editHeight;
  } else {
    ShowItem(window, kEmailLabel, false);
    ShowItem(window, kEmail, false);
  }

  y += 12;
  int buttonHeight = 4 * GetSystemMetrics(SM_CYBORDER) + FontLineHeight(window, fonts.Normal) + 6;
  MoveWindow(GetDlgItem(window, kHelp), 8, y, ButtonWidth(window, fonts.Normal, text(21)), buttonHeight, FALSE);
  ShowItem(window, kHelp, (CurrentDialogFlags() & 0x200) != 0);
  int dontWidth = ButtonWidth(window, fonts.Normal, dontSend);
  int dontLeft = 405 - dontWidth;
  MoveWindow(GetDlgItem(window, kDontSend), dontLeft, y, dontWidth, buttonHeight, FALSE);
  int sendWidth = ButtonWidth(window, fonts.Normal, text(35));
  MoveWindow(GetDlgItem(window, kSend), dontLeft - 8 - sendWidth, y, sendWidth, buttonHeight, FALSE);

  int height = y + buttonHeight + 10 + GetSystemMetrics(SM_CYFRAME) + GetSystemMetrics(SM_CYCAPTION);
  SetWindowPos(window, nullptr, 0, 0, 419, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

bool InitClassic(HWND window, TClassicDialog& dialog) {
  dialog.Common.Start(window, false, true);
  const TDialogFonts& fonts = dialog.Common.Fonts;
  dialog.Error = LoadDialogBitmap("EL_ERROR");
  for (int id : {kHeader, kTellUs}) SetItemFont(window, id, fonts.Bold);
  for (int id : {kMessage, kRestart, kCreated, kSeeData, kDoing, kEmailLabel, kEmail, kSend, kDontSend, kHelp})
    SetItemFont(window, id, fonts.Normal);
  SetItemFont(window, kReproduce, fonts.Fixed);
  SetDlgItemTextA(window, kReproduce, DialogOptions() ? DialogOptions()->ReproduceText().c_str() : "");
  SetDlgItemTextA(window, kEmail, ReadRememberedEmail().c_str());
  dialog.Common.CaptionText = DialogText(3);
  SetWindowTextA(window, dialog.Common.CaptionText.c_str());

  dialog.CanSend = CanSendReport();
  if (!dialog.CanSend) {
    ShowItem(window, kSend, false);
    EnableWindow(GetDlgItem(window, kSend), FALSE);
    SendDlgItemMessageA(window, kSend, BM_SETSTYLE, BS_PUSHBUTTON, FALSE);
    SendDlgItemMessageA(window, kDontSend, BM_SETSTYLE, BS_DEFPUSHBUTTON, FALSE);
    SendMessageA(window, DM_SETDEFID, kDontSend, 0);
  }
  // The focus goes to the default button (the first tab stop may be a hidden control).
  SetFocus(GetDlgItem(window, dialog.CanSend ? kSend : kDontSend));
  LayOutClassic(window, dialog);
  CenterWindowInRect(reinterpret_cast<uintptr_t>(window), DialogWorkArea());
  dialog.OverLink = false;
  StartFirstPaintCheck(dialog.Common);
  StartAutoCloseTimer(dialog.Common);
  StartForegroundKeeper(dialog.Common);
  return false;
}

// Takes the e-mail address and the reproduce text and ends the dialog; an address that is not
// valid keeps the dialog open.
void CloseClassicDialog(HWND window) {
  TEmberDialogState& state = EmberDialogState();
  std::string email = Trim(GetDialogItemText(reinterpret_cast<uintptr_t>(window), kEmail));
  if (IsValidEmail(email)) {
    StoreUserEmail(email);
  } else if (!email.empty()) {
    ShowLibraryMessageBox(true, DialogText(157), DialogText(2));
    return;
  }
  if (TEmberModuleOptions* options = DialogOptions()) options->SetReproduceText(Trim(GetDialogItemText(reinterpret_cast<uintptr_t>(window), kReproduce)));
  state.RestartRequested = (state.RestartRequested || IsChecked(window, kRestart)) && !state.SendCancelled;
  EndChosenDialog(window);
}

void PaintClassic(HWND window, TClassicDialog& dialog) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window, &paint);
  EmberDialogState().Shown = true;
  RECT band{0, 0, 413, 51};
  FillRect(dc, &band, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  FrameRect(dc, &band, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  if (dialog.Error) DrawTransparentBitmap(reinterpret_cast<uintptr_t>(dc), reinterpret_cast<uintptr_t>(dialog.Error), 372, 9, 32, 32);
  if (LinkShown()) {
    HGDIOBJ old = SelectObject(dc, dialog.Common.Fonts.Link);
    SetTextColor(dc, 0xFF0000);
    SetBkMode(dc, TRANSPARENT);
    std::string link = DialogText(32);
    TextOutA(dc, dialog.LinkRect.left, dialog.LinkRect.top, link.c_str(), static_cast<int>(link.size()));
    SelectObject(dc, old);
  }
  EndPaint(window, &paint);
}

void CancelClassic(HWND window) {
  TEmberDialogState& state = EmberDialogState();
  state.SendAsked = false;
  state.SendCancelled = true;
  state.DialogType = EmberDialogNone;
  PostMessageA(window, WM_CLOSE, 0, 0);
}

INT_PTR ClassicDialog(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  TEmberDialogState& state = EmberDialogState();
  TClassicDialog* dialog = nullptr;
  INT_PTR result = FALSE;
  if (DialogPrologue(window, message, wParam, lParam, dialog, result)) return result;
  if (message == WM_INITDIALOG) {
    return InitClassic(window, *dialog) ? TRUE : FALSE;
  }
  switch (message) {
    case WM_PAINT:
      PaintClassic(window, *dialog);
      return TRUE;
    case WM_CTLCOLORSTATIC:
      if (GetDlgCtrlID(reinterpret_cast<HWND>(lParam)) == kHeader) {
        SetBkMode(reinterpret_cast<HDC>(wParam), TRANSPARENT);
        return reinterpret_cast<INT_PTR>(GetStockObject(WHITE_BRUSH));
      }
      return FALSE;
    case WM_MOUSEMOVE:
      dialog->OverLink = TrackLinkHover(window, lParam, LinkShown(), dialog->LinkRect);
      return TRUE;
    case WM_SETCURSOR:
      return SetLinkCursor(window, wParam, dialog->OverLink) ? TRUE : FALSE;
    case WM_LBUTTONUP:
      if (LinkShown() && PtInRect(&dialog->LinkRect, MessagePoint(lParam))) {
        state.DialogType = EmberDialogDetailed;
        CloseClassicDialog(window);
      }
      return TRUE;
    case WM_COMMAND: {
      int id = LOWORD(wParam);
      int code = HIWORD(wParam);
      if ((id == kMessage || id == kReproduce) && code == EN_KILLFOCUS) {
        if (IsEscapeDown()) CancelClassic(window);
        return TRUE;
      }
      switch (id) {
        case kSend:
          state.SendAsked = true;
          state.DialogType = EmberDialogNone;
          CloseClassicDialog(window);
          return TRUE;
        case kDontSend:
          state.SendAsked = state.SendAsked && !dialog->CanSend;
          state.DialogType = EmberDialogNone;
          CloseClassicDialog(window);
          return TRUE;
        case kHelp:
          if (CustomButtonClosesDialog()) {
            state.DialogType = EmberDialogNone;
            CloseClassicDialog(window);
          }
          return TRUE;
        case IDCANCEL:
          CancelClassic(window);
          return TRUE;
        default:
          return FALSE;
      }
    }
    case WM_CLOSE:
      state.DialogType = EmberDialogNone;
      CloseClassicDialog(window);
      return TRUE;
    case WM_DESTROY:
      dialog->Common.Finish();
      if (dialog->Error) DeleteObject(dialog->Error);
      dialog->Error = nullptr;
      return FALSE;
    default:
      return FALSE;
  }
}

INT_PTR CALLBACK ClassicDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return Guarded(window, true, [&] { return ClassicDialog(window, message, wParam, lParam); });
}

// --- The launcher

bool IsNTFamily() {
  OSVERSIONINFOA version{};
  version.dwOSVersionInfoSize = sizeof version;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  GetVersionExA(&version);
#pragma GCC diagnostic pop
  return version.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

void RegisterControlClasses() {
  INITCOMMONCONTROLSEX classes{};
  classes.dwSize = sizeof classes;
  classes.dwICC = ICC_TAB_CLASSES | ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES;
  InitCommonControlsEx(&classes);
}

// One round of the dialog of the current type; false when DialogBoxParam could not make it.
bool RunDialogOnce() {
  TEmberDialogState& state = EmberDialogState();
  HINSTANCE module = reinterpret_cast<HINSTANCE>(DialogResourceModule());
  INT_PTR result = 0;
  switch (state.DialogType) {
    case EmberDialogDetailed:
      result = DialogBoxParamA(module, "EL_DIALOG", nullptr, DetailedDialogProc, 0);
      break;
    case EmberDialogClassic:
      result = DialogBoxParamA(module, "EL_MS_DIALOG", nullptr, ClassicDialogProc, 0);
      break;
    case EmberDialogMessageBox:
      state.Shown = true;
      ShowLibraryMessageBox(true, GetDialogMessage(), DialogText(3));
      state.DialogType = EmberDialogNone;
      break;
    default:
      state.Shown = true;
      break;
  }
  return result != -1;
}

}  // namespace

void InstallReportUserSide() {
  TEmberReportOutput output;
  output.ShowExceptionDialog = ShowExceptionDialog;
  output.ShowRequestDialog = ShowRequestDialog;
  output.IsWebApplication = IsWebApplication;
  output.WriteWebErrorPage = WriteWebErrorPage;
  output.StartSend = StartSendThread;
  SetEmberReportOutput(output);
  InstallReportEvents();
}

void ShowExceptionDialog(bool beep) {
  TEmberDialogState& state = EmberDialogState();
  HMODULE richEdit = nullptr;
  HWND foreground = nullptr;
  try {
    state.DialogFailed = false;
    richEdit = LoadLibraryA("RICHED20.DLL");
    foreground = GetForegroundWindow();
    RegisterControlClasses();
    if (beep && state.DialogType != EmberDialogMessageBox) MessageBeep(MB_ICONHAND);
    bool again;
    do {
      again = false;
      state.Shown = false;
      RunDialogOnce();
      if (!state.Shown && IsNTFamily()) ShowLibraryMessageBox(true, GetDialogMessage(), DialogText(3));
      if (state.RestartRequested) {
        bool restart = true;
        RaiseReportAction(8, restart);
        if (!restart) {
          state.RestartRequested = false;
          again = true;
        }
      }
      if (!state.Shown) {
        const char* warning = "Cannot show the DialogBox window.";
        ShowLibraryWarning(eeShowError, warning);
        NoteInReport(warning);
        state.DialogType = EmberDialogNone;
        state.DialogFailed = true;
      }
    } while (again);
  } catch (...) {
    ShowLibraryError(eeShowError, "GUI");
    state.DialogType = EmberDialogNone;
    state.DialogFailed = true;
  }
  if (richEdit) FreeLibrary(richEdit);
  if (foreground && IsWindow(foreground)) SetForegroundWindow(foreground);
}
