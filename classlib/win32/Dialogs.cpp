// Colour, font, file-open and file-save dialogs through comdlg32.
#include <windows.h>
#include <commdlg.h>

#include "../Dialogs.h"

#include <algorithm>
#include <vector>

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
