// Test support of the controls: the style built in code and the scene fixture.
#include "ControlsTestSupport.h"

namespace {

template <typename T>
T* Part(TvgObject* parent, const std::string& name, TvgAlign align = vaNone) {
  auto* part = new T(nullptr);
  part->SetResourceName(name);
  if (auto* v = dynamic_cast<TvgVisualObject*>(part)) v->SetAlign(align);
  parent->AddObject(part);
  return part;
}

void Probe(TvgObject* parent, const std::string& trigger) {
  auto* a = new TProbeAnimation(nullptr);
  a->SetTrigger(trigger);
  a->SetDuration(1);
  parent->AddObject(a);
}

TvgVisualObject* Style(TvgObject* root, const std::string& name) {
  auto* s = Part<TvgVisualObject>(root, name);
  s->SetHitTest(false);
  return s;
}

}  // namespace

TProbeAnimation* FindProbe(TvgObject* style, const std::string& trigger) {
  std::vector<TvgObject*> all;
  style->AddObjectsToList(all);
  for (TvgObject* obj : all)
    if (auto* a = dynamic_cast<TProbeAnimation*>(obj); a != nullptr && a->GetTrigger() == trigger) return a;
  return nullptr;
}

TvgObject* MakeControlsStyle() {
  auto* root = new TvgVisualObject(nullptr);

  TvgVisualObject* label = Style(root, "labelstyle");
  Part<TvgText>(label, "text", vaClient);

  TvgVisualObject* button = Style(root, "buttonstyle");
  auto* foreground = Part<TvgBrushObject>(button, "foreground");
  foreground->GetBrush()->SetSolidColor(0xFF112233u);
  Part<TvgText>(button, "text", vaClient);
  Probe(button, "IsPressed=true");
  Probe(button, "IsPressed=false");

  TvgVisualObject* speed = Style(root, "speedbuttonstyle");
  Part<TvgText>(speed, "text", vaClient);

  TvgVisualObject* corner = Style(root, "cornerbuttonstyle");
  Part<TvgRectangle>(corner, "Background", vaClient);

  for (const char* name : {"checkboxstyle", "radiobuttonstyle"}) {
    TvgVisualObject* check = Style(root, name);
    Part<TvgText>(check, "text", vaClient);
    Probe(check, "IsChecked=true");
    Probe(check, "IsPressed=true");
  }
  TvgVisualObject* pathCheck = Style(root, "pathcheckboxstyle");
  Part<TvgPath>(pathCheck, "checkmark", vaLeft);

  for (const char* name : {"trackstyle", "trackbarstyle"}) {
    TvgVisualObject* track = Style(root, name);
    Part<TvgThumb>(track, "thumb");
  }

  TvgVisualObject* bar = Style(root, "scrollbarstyle");
  Part<TvgTrack>(bar, "htrack", vaClient)->SetHeight(18);
  Part<TvgTrack>(bar, "vtrack", vaClient);
  for (const char* name : {"leftbutton", "rightbutton", "topbutton", "bottombutton"})
    Part<TvgButton>(bar, name, vaNone);

  for (const char* name : {"scrollboxstyle", "framedscrollboxstyle"}) {
    TvgVisualObject* box = Style(root, name);
    auto* hbar = Part<TvgScrollBar>(box, "hscrollbar", vaBottom);
    hbar->SetHeight(16);
    auto* vbar = Part<TvgScrollBar>(box, "vscrollbar", vaRight);
    vbar->SetOrientation(vgVertical);
    vbar->SetWidth(16);
    auto* hsmall = Part<TvgSmallScrollBar>(box, "hsmallscrollbar", vaBottom);
    hsmall->SetHeight(8);
    auto* vsmall = Part<TvgSmallScrollBar>(box, "vsmallscrollbar", vaRight);
    vsmall->SetOrientation(vgVertical);
    vsmall->SetWidth(8);
    Part<TvgVisualObject>(box, "content", vaClient);
    Part<TvgVisualObject>(box, "sizegrip", vaNone)->SetVisible(false);
  }

  TvgVisualObject* progress = Style(root, "progressbarstyle");
  auto* htrack = Part<TvgVisualObject>(progress, "htrack", vaClient);
  htrack->GetMargins()->SetRect(vgRect(2, 2, 2, 2));
  auto* hindicator = Part<TvgRectangle>(htrack, "hindicator", vaLeft);
  hindicator->GetPadding()->SetRect(vgRect(1, 0, 1, 0));
  Probe(hindicator, "IsVisible=true");
  auto* vtrack = Part<TvgVisualObject>(progress, "vtrack", vaClient);
  Part<TvgRectangle>(vtrack, "vindicator", vaBottom);

  TvgVisualObject* angle = Style(root, "anglebuttonstyle");
  Part<TvgVisualObject>(angle, "tick", vaNone);
  Part<TvgText>(angle, "tracktext", vaNone);
  Part<TvgText>(angle, "text", vaNone);

  TvgVisualObject* expander = Style(root, "expanderstyle");
  Part<TvgButton>(expander, "button", vaTop)->SetHeight(25);
  Part<TvgCheckBox>(expander, "checkbox", vaNone);
  Probe(expander, "IsExpanded=false");

  TvgVisualObject* window = Style(root, "windowstyle");
  Part<TvgCloseButton>(window, "close", vaNone);
  Part<TvgSizeGrip>(window, "sizegrip", vaNone);
  TvgVisualObject* hud = Style(root, "hudwindowstyle");
  Part<TvgRectangle>(hud, "back", vaClient);
  Part<TvgRectangle>(hud, "stroke", vaClient);
  auto* caption = Part<TvgVisualObject>(hud, "caption", vaTop);
  Part<TvgCloseButton>(caption, "close", vaRight);
  Part<TvgText>(caption, "text", vaClient);

  TvgVisualObject* status = Style(root, "statusbarstyle");
  Part<TvgSizeGrip>(status, "sizegrip", vaRight);
  for (const char* name : {"bitmapbuttonstyle", "toolbuttonstyle"}) {
    TvgVisualObject* bitmapButton = Style(root, name);
    Part<TvgImage>(bitmapButton, "image", vaLeft);
    Part<TvgText>(bitmapButton, "text", vaClient);
  }
  TvgVisualObject* pathButton = Style(root, "pathbuttonstyle");
  auto* pathOwner = Part<TvgVisualObject>(pathButton, "pathowner", vaLeft);
  Part<TvgPath>(pathOwner, "path", vaClient);
  Part<TvgText>(pathButton, "text", vaClient);

  TvgVisualObject* colorButton = Style(root, "colorbuttonstyle");
  Part<TvgRectangle>(colorButton, "fill", vaClient);
  TvgVisualObject* imageControl = Style(root, "imagecontrolstyle");
  Part<TvgImage>(imageControl, "image", vaClient);

  TvgVisualObject* splitter = Style(root, "splitterstyle");
  Part<TvgVisualObject>(splitter, "grip", vaCenter);
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
