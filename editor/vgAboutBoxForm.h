// TAboutForm: the about box, lines of text in a scene with a vertical scroll bar and a close
// button, streamed from its form resource. Inside the editor it is a child window of the editor
// form and returns at once; without an owner it is a modal top-level box. It frees itself when
// closed. GUI thread only.
#pragma once

#include <cstdint>

#include "classlib/Classes.h"
#include "classlib/Forms.h"
#include "editor/controls/zel_FlatButton.h"
#include "editor/controls/zel_MultiLineText.h"
#include "editor/controls/zel_ScrollBar.h"
#include "scene/core/vg_resources.h"
#include "scene/core/win32/vg_scene.h"
#include "scene/shapes/vg_objects.h"

class TAboutForm : public TForm {
  KBL_DECLARE_CLASS(TAboutForm, TForm)
 public:
  explicit TAboutForm(TComponent* owner);

  // --- Components of the form resource (owned by the form; bound by name once it is read)
  TvgScene* vgScene1 = nullptr;
  TvgBackground* Root1 = nullptr;
  TvgZelMultiLineText* TextBox = nullptr;
  TvgRectangle* Outline = nullptr;
  TvgRectangle* BackColor = nullptr;
  TvgZelFlatButton* CloseButton = nullptr;
  TvgZelScrollBar* VertScrollBar = nullptr;

  bool GetShowCloseButton() const { return showCloseButton_; }
  // Shows or hides the close button and leaves 65 (with it) or 15 units below the text.
  void SetShowCloseButton(bool value);
  bool GetModalBox() const { return modalBox_; }
  void SetModalBox(bool value) { modalBox_ = value; }

  // --- Event handlers, bound by name from the form resource
  void FormShow(TObject* sender);
  void FormClose(TObject* sender, TCloseAction& action);
  void FormCloseQuery(TObject* sender, bool& canClose);
  void VertScrollBarChanged(TObject* sender);
  void TextBoxShowSliders(TObject* sender, TShowSliders sliders);
  void TextBoxMouseDown(TObject* sender, TMouseButton button, TShiftState shift, float x, float y);
  void CloseButtonMouseDown(TObject* sender, TMouseButton button, TShiftState shift, float x, float y);

 protected:
  // Binds the component fields, then runs OnCreate. Raises EComponentError for a missing one.
  void DoCreate() override;

 private:
  bool showCloseButton_ = false;
  bool modalBox_ = false;
};

// Shows the about box with `lines`, `width` × `height`. With a windowed owner (the editor form)
// the box is a child window centred in it and the call returns at once; without one it is a
// desktop-centred, stay-on-top modal box and the call returns when it is closed. Answers the box
// while it is open inside an owner (the one already open there, brought to the front, when asked
// again), nullptr once a modal box is gone.
TAboutForm* ShowAbout(const TStrings& lines, int32_t width, int32_t height, TComponent* owner);
