// Colour, font, file-open and file-save dialogs through comdlg32; the text query as a dialog
// template built in memory.
#include <windows.h>
#include <commdlg.h>

#include "../Dialogs.h"

#include <algorithm>
#include <vector>

#include "../Module.h"
#include "Windowing_p.h"

KBL_PUBLISHED(TCommonDialog) {
  p.Property("OnClose", &TCommonDialog::OnClose, &TCommonDialog::OnClose);
  p.Property("OnShow", &TCommonDialog::OnShow, &TCommonDialog::OnShow);
}

bool TCommonDialog::Execute() { return Execute(GetActiveWindow()); }

// --- TColorDialog

KBL_PUBLISHED(TColorDialog) { KBL_PROP(Color).Default(clBlack); }

TColorDialog::TColorDialog(TComponent* owner) : TCommonDialog(owner) { std::fill(std::begin(custom_), std::end(custom_), 0xFFFFFFu); }

bool TColorDialog::Execute(HWND owner) {
  CHOOSECOLORW choose{};
  choose.lStructSize = sizeof(choose);
  choose.hwndOwner = owner;
  choose.rgbResult = ColorToRGB(color_);
  choose.lpCustColors = reinterpret_cast<COLORREF*>(custom_);
  choose.Flags = CC_RGBINIT | CC_FULLOPEN;
  OnShow(this);
  const bool accepted = ChooseColorW(&choose) != FALSE;
  OnClose(this);
  if (accepted) color_ = static_cast<TColor>(choose.rgbResult & 0xFFFFFFu);
  return accepted;
}

// --- TOpenDialog

KBL_PUBLISHED(TOpenDialog) {
  KBL_PROP(DefaultExt);
  KBL_PROP(FileName);
  KBL_PROP(Filter);
  KBL_PROP(FilterIndex).Default(1);
  KBL_PROP(InitialDir);
  KBL_PROP(Title);
}

bool TOpenDialog::Execute(HWND owner) {
  return RunFileDialog(owner, false, OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST);
}

bool TOpenDialog::RunFileDialog(HWND owner, bool save, uint32_t flags) {
  // "a|b|c|d" becomes "a\0b\0c\0d\0\0"; an odd last part is dropped with its description.
  std::wstring filter = kbl_win::ToWide(filter_);
  std::vector<wchar_t> filterBuffer;
  if (!filter.empty()) {
    std::replace(filter.begin(), filter.end(), L'|', L'\0');
    filterBuffer.assign(filter.begin(), filter.end());
    filterBuffer.push_back(L'\0');
    filterBuffer.push_back(L'\0');
  }
  std::vector<wchar_t> file(32768, L'\0');
  std::wstring start = kbl_win::ToWide(fileName_);
  std::copy_n(start.begin(), std::min(start.size(), file.size() - 1), file.begin());
  std::wstring initialDir = kbl_win::ToWide(initialDir_);
  std::wstring title = kbl_win::ToWide(title_);
  std::wstring defaultExt = kbl_win::ToWide(defaultExt_);
  OPENFILENAMEW open{};
  open.lStructSize = sizeof(open);
  open.hwndOwner = owner;
  open.lpstrFilter = filterBuffer.empty() ? nullptr : filterBuffer.data();
  open.nFilterIndex = static_cast<DWORD>(std::max(filterIndex_, 0));
  open.lpstrFile = file.data();
  open.nMaxFile = static_cast<DWORD>(file.size());
  open.lpstrInitialDir = initialDir.empty() ? nullptr : initialDir.c_str();
  open.lpstrTitle = title.empty() ? nullptr : title.c_str();
  open.lpstrDefExt = defaultExt.empty() ? nullptr : defaultExt.c_str();
  // NOCHANGEDIR: the dialog would otherwise move the host's current directory.
  open.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_ENABLESIZING | flags;
  OnShow(this);
  const bool accepted = (save ? GetSaveFileNameW(&open) : GetOpenFileNameW(&open)) != FALSE;
  OnClose(this);
  if (accepted) {
    fileName_ = kbl_win::FromWide(file.data());
    filterIndex_ = static_cast<int32_t>(open.nFilterIndex);
  }
  return accepted;
}

// --- TSaveDialog

KBL_PUBLISHED(TSaveDialog) {}

bool TSaveDialog::Execute(HWND owner) { return RunFileDialog(owner, true, OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST); }

// --- TFontDialog

KBL_PUBLISHED(TFontDialog) { KBL_PROP(Font); }

TFontDialog::TFontDialog(TComponent* owner) : TCommonDialog(owner), font_(new TFont()) {}

TFontDialog::~TFontDialog() { delete font_; }

bool TFontDialog::Execute(HWND owner) {
  LOGFONTW log{};
  log.lfHeight = font_->GetHeight();
  log.lfWeight = font_->GetStyle().Contains(fsBold) ? FW_BOLD : FW_NORMAL;
  log.lfItalic = font_->GetStyle().Contains(fsItalic);
  log.lfUnderline = font_->GetStyle().Contains(fsUnderline);
  log.lfStrikeOut = font_->GetStyle().Contains(fsStrikeOut);
  log.lfCharSet = DEFAULT_CHARSET;
  const std::wstring face = kbl_win::ToWide(font_->GetName());
  std::copy_n(face.begin(), std::min<size_t>(face.size(), LF_FACESIZE - 1), log.lfFaceName);
  CHOOSEFONTW choose{};
  choose.lStructSize = sizeof(choose);
  choose.hwndOwner = owner;
  choose.lpLogFont = &log;
  choose.rgbColors = ColorToRGB(font_->GetColor());
  choose.Flags = CF_SCREENFONTS | CF_EFFECTS | CF_INITTOLOGFONTSTRUCT;
  OnShow(this);
  const bool accepted = ChooseFontW(&choose) != FALSE;
  OnClose(this);
  if (!accepted) return false;
  font_->SetName(kbl_win::FromWide(log.lfFaceName));
  font_->SetHeight(log.lfHeight);
  TFontStyles style;
  if (log.lfWeight >= FW_BOLD) style.Include(fsBold);
  if (log.lfItalic) style.Include(fsItalic);
  if (log.lfUnderline) style.Include(fsUnderline);
  if (log.lfStrikeOut) style.Include(fsStrikeOut);
  font_->SetStyle(style);
  font_->SetColor(static_cast<TColor>(choose.rgbColors & 0xFFFFFFu));
  return true;
}

// --- InputQuery

namespace {

constexpr WORD kQueryEdit = 100;

struct QueryState {
  std::wstring prompt;
  std::wstring text;
};

// Appends a WORD-aligned dialog item: position, size, id, the atom of a predefined class and
// its text.
void AddItem(std::vector<WORD>& t, DWORD style, short x, short y, short cx, short cy, WORD id, WORD atom,
             const wchar_t* text) {
  if (t.size() % 2 != 0) t.push_back(0);  // DWORD alignment
  DLGITEMTEMPLATE item{};
  item.style = style | WS_CHILD | WS_VISIBLE;
  item.x = x;
  item.y = y;
  item.cx = cx;
  item.cy = cy;
  item.id = id;
  const WORD* raw = reinterpret_cast<const WORD*>(&item);
  t.insert(t.end(), raw, raw + sizeof(item) / sizeof(WORD));
  t.push_back(0xFFFF);
  t.push_back(atom);
  for (const wchar_t* c = text; *c != 0; ++c) t.push_back(static_cast<WORD>(*c));
  t.push_back(0);
  t.push_back(0);  // no creation data
}

INT_PTR CALLBACK QueryProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  try {
    auto* state = reinterpret_cast<QueryState*>(GetWindowLongPtrW(dialog, DWLP_USER));
    switch (message) {
      case WM_INITDIALOG:
        SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        state = reinterpret_cast<QueryState*>(lParam);
        SetDlgItemTextW(dialog, kQueryEdit, state->text.c_str());
        SendDlgItemMessageW(dialog, kQueryEdit, EM_SETSEL, 0, -1);
        SetFocus(GetDlgItem(dialog, kQueryEdit));
        return FALSE;
      case WM_COMMAND:
        if (LOWORD(wParam) == IDOK && state != nullptr) {
          const int length = GetWindowTextLengthW(GetDlgItem(dialog, kQueryEdit));
          std::vector<wchar_t> buffer(static_cast<size_t>(length) + 1, L'\0');
          GetDlgItemTextW(dialog, kQueryEdit, buffer.data(), length + 1);
          state->text = buffer.data();
          EndDialog(dialog, IDOK);
          return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
          EndDialog(dialog, IDCANCEL);
          return TRUE;
        }
        return FALSE;
      default:
        return FALSE;
    }
  } catch (...) {
    kbl_win::ReportCurrentException();
    return FALSE;
  }
}

}  // namespace

bool InputQuery(const std::string& caption, const std::string& prompt, std::string& value) {
  const std::wstring title = kbl_win::ToWide(caption), label = kbl_win::ToWide(prompt);
  std::vector<WORD> t;
  DLGTEMPLATE head{};
  head.style = DS_MODALFRAME | DS_SETFONT | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU;
  head.cdit = 4;
  head.cx = 200;
  head.cy = 72;
  const WORD* raw = reinterpret_cast<const WORD*>(&head);
  t.insert(t.end(), raw, raw + sizeof(head) / sizeof(WORD));
  t.push_back(0);  // no menu
  t.push_back(0);  // the predefined dialog class
  for (wchar_t c : title) t.push_back(static_cast<WORD>(c));
  t.push_back(0);
  t.push_back(8);  // font size
  for (const wchar_t* c = L"MS Shell Dlg"; *c != 0; ++c) t.push_back(static_cast<WORD>(*c));
  t.push_back(0);
  AddItem(t, SS_LEFT, 8, 8, 184, 10, 0xFFFF, 0x0082, label.c_str());
  AddItem(t, ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, 8, 22, 184, 13, kQueryEdit, 0x0081, L"");
  AddItem(t, BS_DEFPUSHBUTTON | WS_TABSTOP, 88, 48, 50, 14, IDOK, 0x0080, L"OK");
  AddItem(t, BS_PUSHBUTTON | WS_TABSTOP, 142, 48, 50, 14, IDCANCEL, 0x0080, L"Cancel");
  QueryState state{label, kbl_win::ToWide(value)};
  const INT_PTR result = DialogBoxIndirectParamW(static_cast<HINSTANCE>(ModuleInstance()), reinterpret_cast<LPCDLGTEMPLATEW>(t.data()),
                                                 GetActiveWindow(), &QueryProc, reinterpret_cast<LPARAM>(&state));
  if (result != IDOK) return false;
  value = kbl_win::FromWide(state.text.c_str());
  return true;
}
