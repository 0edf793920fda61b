// Common dialogs of the window layer: colour, font, file-open and file-save dialogs over the
// system's common dialogs, and a one-line text query. Win32 only.
#pragma once

#ifndef _WIN32
#error "Dialogs.h is part of the Win32 window layer"
#endif

#include <string>

#include "Canvas.h"
#include "Classes.h"

struct HWND__;
typedef HWND__* HWND;

// Base of the dialogs: Execute shows the dialog modally over the thread's active window (or the
// given owner) and answers true when the user accepted.
class TCommonDialog : public TComponent {
  KBL_DECLARE_CLASS(TCommonDialog, TComponent)
 public:
  explicit TCommonDialog(TComponent* owner) : TComponent(owner) {}
  virtual bool Execute(HWND owner) = 0;
  bool Execute();
  TNotifyEvent OnShow;
  TNotifyEvent OnClose;
};

// Chooses a colour; Color is the start value and, when accepted, the choice. The custom colours
// persist in the dialog object between runs.
class TColorDialog : public TCommonDialog {
  KBL_DECLARE_CLASS(TColorDialog, TCommonDialog)
 public:
  explicit TColorDialog(TComponent* owner);
  using TCommonDialog::Execute;
  bool Execute(HWND owner) override;
  TColor GetColor() const { return color_; }
  void SetColor(TColor value) { color_ = value; }

 private:
  TColor color_ = clBlack;
  uint32_t custom_[16];
};

// Chooses an existing file. Filter is "Description|*.ext;*.ext2|Description|*.*" (pairs split at
// "|"); FileName is the start name and, when accepted, the full path. The process's current
// directory is left as it was.
class TOpenDialog : public TCommonDialog {
  KBL_DECLARE_CLASS(TOpenDialog, TCommonDialog)
 public:
  explicit TOpenDialog(TComponent* owner) : TCommonDialog(owner) {}
  using TCommonDialog::Execute;
  bool Execute(HWND owner) override;
  const std::string& GetFileName() const { return fileName_; }
  void SetFileName(const std::string& value) { fileName_ = value; }
  const std::string& GetFilter() const { return filter_; }
  void SetFilter(const std::string& value) { filter_ = value; }
  int32_t GetFilterIndex() const { return filterIndex_; }
  void SetFilterIndex(int32_t value) { filterIndex_ = value; }
  const std::string& GetInitialDir() const { return initialDir_; }
  void SetInitialDir(const std::string& value) { initialDir_ = value; }
  const std::string& GetTitle() const { return title_; }
  void SetTitle(const std::string& value) { title_ = value; }
  const std::string& GetDefaultExt() const { return defaultExt_; }
  void SetDefaultExt(const std::string& value) { defaultExt_ = value; }

 protected:
  // Runs the open (or save) dialog with the given extra flags.
  bool RunFileDialog(HWND owner, bool save, uint32_t flags);

 private:
  std::string fileName_;
  std::string filter_;
  int32_t filterIndex_ = 1;
  std::string initialDir_;
  std::string title_;
  std::string defaultExt_;
};

// Chooses a file name to write: as TOpenDialog, but the file need not exist and the user is asked
// before an existing file is replaced. DefaultExt is appended to a name typed without one.
class TSaveDialog : public TOpenDialog {
  KBL_DECLARE_CLASS(TSaveDialog, TOpenDialog)
 public:
  explicit TSaveDialog(TComponent* owner) : TOpenDialog(owner) {}
  using TCommonDialog::Execute;
  bool Execute(HWND owner) override;
};

// Chooses a font; Font is the start value and, when accepted, the choice (name, height, style
// and colour). The font object is owned by the dialog.
class TFontDialog : public TCommonDialog {
  KBL_DECLARE_CLASS(TFontDialog, TCommonDialog)
 public:
  explicit TFontDialog(TComponent* owner);
  ~TFontDialog() override;
  using TCommonDialog::Execute;
  bool Execute(HWND owner) override;
  TFont* GetFont() const { return font_; }
  void SetFont(TFont* value) { font_->Assign(value); }

 private:
  TFont* font_;
};

// Asks for one line of text in a small modal dialog titled `caption`, with `prompt` above an
// edit field that starts with `value`; true and the typed text in `value` on OK, false (value
// untouched) on Cancel. The dialog is owned by the thread's active window.
bool InputQuery(const std::string& caption, const std::string& prompt, std::string& value);
