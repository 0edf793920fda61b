// Test support of the controls: the style built in code and the scene fixture.
#include "ControlsTestSupport.h"

namespace {

void Probe(TvgObject* parent, const std::string& trigger) {
  auto* a = new TProbeAnimation(nullptr);
  a->SetTrigger(trigger);
  a->SetDuration(1);
  parent->AddObject(a);
}

}  // namespace

TvgVisualObject* AddStyle(TvgObject* root, const std::string& name) {
  auto* s = AddStylePart<TvgVisualObject>(root, name);
  s->SetHitTest(false);
  return s;
}

TProbeAnimation* FindProbe(TvgObject* style, const std::string& trigger) {
  std::vector<TvgObject*> all;
  style->AddObjectsToList(all);
  for (TvgObject* obj : all)
    if (auto* a = dynamic_cast<TProbeAnimation*>(obj); a != nullptr && a->GetTrigger() == trigger) return a;
  return nullptr;
}

TvgObject* MakeControlsStyle() {
  auto* root = new TvgVisualObject(nullptr);

  TvgVisualObject* label = AddStyle(root, "labelstyle");
  AddStylePart<TvgText>(label, "text", vaClient);

  TvgVisualObject* button = AddStyle(root, "buttonstyle");
  auto* foreground = AddStylePart<TvgBrushObject>(button, "foreground");
  foreground->GetBrush()->SetSolidColor(0xFF112233u);
  AddStylePart<TvgText>(button, "text", vaClient);
  Probe(button, "IsPressed=true");
  Probe(button, "IsPressed=false");

  TvgVisualObject* speed = AddStyle(root, "speedbuttonstyle");
  AddStylePart<TvgText>(speed, "text", vaClient);

  TvgVisualObject* corner = AddStyle(root, "cornerbuttonstyle");
  AddStylePart<TvgRectangle>(corner, "Background", vaClient);

  for (const char* name : {"checkboxstyle", "radiobuttonstyle"}) {
    TvgVisualObject* check = AddStyle(root, name);
    AddStylePart<TvgText>(check, "text", vaClient);
    Probe(check, "IsChecked=true");
    Probe(check, "IsPressed=true");
  }
  TvgVisualObject* pathCheck = AddStyle(root, "pathcheckboxstyle");
  AddStylePart<TvgPath>(pathCheck, "checkmark", vaLeft);

  for (const char* name : {"trackstyle", "trackbarstyle"}) {
    TvgVisualObject* track = AddStyle(root, name);
    AddStylePart<TvgThumb>(track, "thumb");
  }

  TvgVisualObject* bar = AddStyle(root, "scrollbarstyle");
  AddStylePart<TvgTrack>(bar, "htrack", vaClient)->SetHeight(18);
  AddStylePart<TvgTrack>(bar, "vtrack", vaClient);
  for (const char* name : {"leftbutton", "rightbutton", "topbutton", "bottombutton"})
    AddStylePart<TvgButton>(bar, name, vaNone);

  for (const char* name : {"scrollboxstyle", "framedscrollboxstyle"}) {
    TvgVisualObject* box = AddStyle(root, name);
    auto* hbar = AddStylePart<TvgScrollBar>(box, "hscrollbar", vaBottom);
    hbar->SetHeight(16);
    auto* vbar = AddStylePart<TvgScrollBar>(box, "vscrollbar", vaRight);
    vbar->SetOrientation(vgVertical);
    vbar->SetWidth(16);
    auto* hsmall = AddStylePart<TvgSmallScrollBar>(box, "hsmallscrollbar", vaBottom);
    hsmall->SetHeight(8);
    auto* vsmall = AddStylePart<TvgSmallScrollBar>(box, "vsmallscrollbar", vaRight);
    vsmall->SetOrientation(vgVertical);
    vsmall->SetWidth(8);
    AddStylePart<TvgVisualObject>(box, "content", vaClient);
    AddStylePart<TvgVisualObject>(box, "sizegrip", vaNone)->SetVisible(false);
  }

  TvgVisualObject* progress = AddStyle(root, "progressbarstyle");
  auto* htrack = AddStylePart<TvgVisualObject>(progress, "htrack", vaClient);
  htrack->GetMargins()->SetRect(vgRect(2, 2, 2, 2));
  auto* hindicator = AddStylePart<TvgRectangle>(htrack, "hindicator", vaLeft);
  hindicator->GetPadding()->SetRect(vgRect(1, 0, 1, 0));
  Probe(hindicator, "IsVisible=true");
  auto* vtrack = AddStylePart<TvgVisualObject>(progress, "vtrack", vaClient);
  AddStylePart<TvgRectangle>(vtrack, "vindicator", vaBottom);

  TvgVisualObject* angle = AddStyle(root, "anglebuttonstyle");
  AddStylePart<TvgVisualObject>(angle, "tick", vaNone);
  AddStylePart<TvgText>(angle, "tracktext", vaNone);
  AddStylePart<TvgText>(angle, "text", vaNone);

  TvgVisualObject* expander = AddStyle(root, "expanderstyle");
  AddStylePart<TvgButton>(expander, "button", vaTop)->SetHeight(25);
  AddStylePart<TvgCheckBox>(expander, "checkbox", vaNone);
  Probe(expander, "IsExpanded=false");

  TvgVisualObject* window = AddStyle(root, "windowstyle");
  AddStylePart<TvgCloseButton>(window, "close", vaNone);
  AddStylePart<TvgSizeGrip>(window, "sizegrip", vaNone);
  TvgVisualObject* hud = AddStyle(root, "hudwindowstyle");
  AddStylePart<TvgRectangle>(hud, "back", vaClient);
  AddStylePart<TvgRectangle>(hud, "stroke", vaClient);
  auto* caption = AddStylePart<TvgVisualObject>(hud, "caption", vaTop);
  AddStylePart<TvgCloseButton>(caption, "close", vaRight);
  AddStylePart<TvgText>(caption, "text", vaClient);

  TvgVisualObject* status = AddStyle(root, "statusbarstyle");
  AddStylePart<TvgSizeGrip>(status, "sizegrip", vaRight);
  for (const char* name : {"bitmapbuttonstyle", "toolbuttonstyle"}) {
    TvgVisualObject* bitmapButton = AddStyle(root, name);
    AddStylePart<TvgImage>(bitmapButton, "image", vaLeft);
    AddStylePart<TvgText>(bitmapButton, "text", vaClient);
  }
  TvgVisualObject* pathButton = AddStyle(root, "pathbuttonstyle");
  auto* pathOwner = AddStylePart<TvgVisualObject>(pathButton, "pathowner", vaLeft);
  AddStylePart<TvgPath>(pathOwner, "path", vaClient);
  AddStylePart<TvgText>(pathButton, "text", vaClient);

  TvgVisualObject* colorButton = AddStyle(root, "colorbuttonstyle");
  AddStylePart<TvgRectangle>(colorButton, "fill", vaClient);
  TvgVisualObject* imageControl = AddStyle(root, "imagecontrolstyle");
  AddStylePart<TvgImage>(imageControl, "image", vaClient);

  TvgVisualObject* splitter = AddStyle(root, "splitterstyle");
  AddStylePart<TvgVisualObject>(splitter, "grip", vaCenter);
  return root;
}

void ControlsFixture::SetUp() {
  RegisterProbeClasses();
  FreshManualTicker();
  vgSetControlTimerFactory([this] {
    auto timer = std::make_unique<TvgManualAniTimer>();
    timers.push_back(timer.get());
    return std::unique_ptr<IvgAniTimer>(std::move(timer));
  });
  vgSetDefaultStyle(MakeControlsStyle());
  form = new TvgVisualObject(nullptr);
  form->SetBounds(0, 0, 400, 300);
  scene.AddObject(form);
}

void ControlsFixture::TearDown() {
  delete form;
  vgSetControlTimerFactory(nullptr);
  vgFreeDefaultStyle();
  vgFreeAniThread();
}
