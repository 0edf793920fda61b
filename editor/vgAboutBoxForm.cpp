// The about box: its form resource, the scroll bar that moves the text and the two ways it is
// shown.
#include "vgAboutBoxForm.h"

#include <cmath>
#include <memory>


KBL_PUBLISHED(TAboutForm) {
  KBL_METHOD(FormShow);
  KBL_METHOD(FormClose);
  KBL_METHOD(FormCloseQuery);
  KBL_METHOD(VertScrollBarChanged);
  KBL_METHOD(TextBoxShowSliders);
  KBL_METHOD(TextBoxMouseDown);
  KBL_METHOD(CloseButtonMouseDown);
}

TAboutForm::TAboutForm(TComponent* owner) : TForm(owner) {}

void TAboutForm::DoCreate() {
  BindFormField(this, vgScene1, "vgScene1");
  BindFormField(this, Root1, "Root1");
  BindFormField(this, TextBox, "TextBox");
  BindFormField(this, Outline, "Outline");
  BindFormField(this, BackColor, "BackColor");
  BindFormField(this, CloseButton, "CloseButton");
  BindFormField(this, VertScrollBar, "VertScrollBar");
  inherited::DoCreate();
}

void TAboutForm::SetShowCloseButton(bool value) {
  showCloseButton_ = value;
  CloseButton->SetVisible(value);
  const float below = value ? 65.0f : 15.0f;
  TextBox->GetPadding()->SetBottom(below);
  VertScrollBar->GetPadding()->SetBottom(below);
}

void TAboutForm::FormShow(TObject*) {
  CloseButton->GetPosition()->SetX((Outline->GetWidth() - CloseButton->GetWidth()) / 2);
  const float textHeight = TextBox->GetTextHeight();
  if (textHeight <= TextBox->GetHeight()) {
    VertScrollBar->SetVisible(false);
    return;
  }
  VertScrollBar->SetVisible(true);
  VertScrollBar->SetIndexSize(TextBox->GetHeight() / textHeight);
  VertScrollBar->SetScrollPos(1);
}

void TAboutForm::FormClose(TObject*, TCloseAction& action) { action = caFree; }

void TAboutForm::FormCloseQuery(TObject*, bool& canClose) { canClose = true; }

void TAboutForm::VertScrollBarChanged(TObject*) {
  const float hidden = TextBox->GetTextHeight() - TextBox->GetHeight() + 50;
  TextBox->SetVertOffset(static_cast<int32_t>(std::nearbyint(-(1 - VertScrollBar->GetScrollPos()) * hidden)));
}

void TAboutForm::TextBoxShowSliders(TObject*, TShowSliders sliders) {
  VertScrollBar->SetVisible(sliders == ssBoth || sliders == ssVert);
}

void TAboutForm::TextBoxMouseDown(TObject*, TMouseButton, TShiftState, float, float) {
  if (!showCloseButton_) Close();
  else if (modalBox_) vgScene1->BeginDrag();
}

void TAboutForm::CloseButtonMouseDown(TObject*, TMouseButton, TShiftState, float, float) { Close(); }

TAboutForm* ShowAbout(const TStrings& lines, int32_t width, int32_t height, TComponent* owner) {
  auto* parent = dynamic_cast<TWinControl*>(owner);
  // An owner holds one box (the form resource names it): asked again, the open one comes forward.
  for (int32_t i = 0; parent && i < owner->ComponentCount(); ++i) {
    if (auto* open = dynamic_cast<TAboutForm*>(owner->GetComponent(i))) {
      open->BringToFront();
      return open;
    }
  }
  std::unique_ptr<TAboutForm> box(TCustomForm::Create<TAboutForm>(parent ? owner : nullptr));
  std::unique_ptr<TvgWideStringList> text(new TvgWideStringList());
  text->AddAnsiStrings(lines);
  box->TextBox->SetLines(text.get());
  box->SetShowCloseButton(true);
  if (parent) {
    box->SetModalBox(false);
    box->SetBounds(box->GetLeft(), box->GetTop(), width, height);
    box->SetParentWindow(parent->GetHandle());
    box->Show();
    box->BringToFront();
    box->SetBounds((parent->GetWidth() - width) / 2, (parent->GetHeight() - height) / 2, width, height);
    return box.release();
  }
  box->SetModalBox(true);
  box->SetBounds(box->GetLeft(), box->GetTop(), width, height);
  box->SetPosition(poDesktopCenter);
  box->SetFormStyle(fsStayOnTop);
  box->ShowModal();
  return nullptr;
}
