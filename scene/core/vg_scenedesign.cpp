// The scene's design mode: selecting, moving (snapped to the grid and to the edges of siblings,
// ALT-dragged into another object), resizing and rotating with handles, inserting objects by
// class name, and the design menu's commands; the overlays that show them; the designer hook.
#include <algorithm>
#include <cmath>
#include <map>

#include "classlib/FormText.h"
#include "classlib/Streams.h"
#include "classlib/SysUtils.h"
#include "classlib/TypInfo.h"
#include "vg_control.h"
#include "vg_registry.h"
#include "vg_resources.h"
#include "vg_sceneengine.h"
#include "vg_sceneengine_p.h"

namespace {

IvgDesigner* g_designer = nullptr;

constexpr float kHandleHalf = 3.0f;
// Edges closer than this snap together.
constexpr float kSnapDistance = 4.0f;
// Siblings whose edge or centre lines lie closer than this to the selection's show snap lines.
constexpr float kSnapLineDistance = 2.0f;
constexpr TvgColor kSelectionColor = 0xFF1072C5u;
constexpr TvgColor kHotHandleColor = 0xFFFF0000u;
constexpr TvgColor kPlaceColor = 0xFF5B91DEu;
const char kSceneFileFilter[] = "Vector Scene Files|*.vscene;*.vg";

// The class name without its leading "T": the base of component names.
std::string NameBase(const TObject* obj) {
  const std::string name = obj->ClassName();
  return name.size() > 1 && name[0] == 'T' ? name.substr(1) : name;
}

// "Tvg" dropped from the front of a class name, as the menu shows it.
std::string MenuClassName(const std::string& className) {
  return className.rfind("Tvg", 0) == 0 ? className.substr(3) : className;
}

bool Near(float a, float b) { return std::fabs(a - b) < kSnapDistance; }
bool LinedUp(float a, float b) { return std::fabs(a - b) < kSnapLineDistance; }
bool Equal(float a, float b) { return std::fabs(a - b) < 0.01f; }

struct TBox {
  float l, t, r, b;
  float cx() const { return (l + r) / 2; }
  float cy() const { return (t + b) / 2; }
};

// An object's box in its parent's coordinates (unrotated).
TBox BoxOf(TvgVisualObject* v) {
  const float x = v->GetPosition()->GetX(), y = v->GetPosition()->GetY();
  return TBox{x, y, x + v->GetWidth(), y + v->GetHeight()};
}

bool IsInside(TvgObject* obj, TvgObject* ancestor) {
  for (TvgObject* p = obj; p != nullptr; p = p->GetParent())
    if (p == ancestor) return true;
  return false;
}

}  // namespace

IvgDesigner* vgDesigner() { return g_designer; }
void vgSetDesigner(IvgDesigner* designer) { g_designer = designer; }

std::string& vgDesignClipboard() {
  static std::string text;
  return text;
}

const TvgDesignMenuItem* TvgDesignMenuItem::Find(const std::string& path) const {
  const size_t slash = path.find('/');
  const std::string head = path.substr(0, slash);
  for (const TvgDesignMenuItem& item : Items) {
    if (item.Caption != head) continue;
    return slash == std::string::npos ? &item : item.Find(path.substr(slash + 1));
  }
  return nullptr;
}

// --- Hook

void TvgSceneEngine::TellSelection() {
  if (g_designer != nullptr) g_designer->SelectionChanged(control_, selected_, -1);
}

void TvgSceneEngine::TellModified() {
  if (g_designer != nullptr) g_designer->Modified(GetOwner());
}

void TvgSceneEngine::SelectDesign(TvgVisualObject* obj) {
  if (selected_ != nullptr) selected_->Repaint();
  RepaintHandle(hotHandle_);
  hotHandle_ = -1;
  selected_ = obj;
  if (obj != nullptr) {
    obj->DesignSelect();
    obj->Repaint();
  }
  TellSelection();
}

// --- Snapping

float TvgSceneEngine::SnapToGrid(float value) const {
  if (!DesignSnapToGrid || DesignSnapGridSize == 0) return value;
  return std::trunc(value / DesignSnapGridSize) * DesignSnapGridSize;
}

// Every visible sibling of the selection: the candidates a move or resize may snap to.
std::vector<TvgVisualObject*> SnapCandidates(TvgVisualObject* selected) {
  std::vector<TvgVisualObject*> list;
  TvgObject* parent = selected != nullptr ? selected->GetParent() : nullptr;
  if (parent == nullptr) return list;
  for (TvgObject* sibling : parent->Children()) {
    TvgVisualObject* s = AsVisual(sibling);
    if (s != nullptr && s != selected && s->GetVisible() && s->GetStored()) list.push_back(s);
  }
  return list;
}

void TvgSceneEngine::CollectSnapObjects() {
  if (selected_ == nullptr) return;
  const TBox me = BoxOf(selected_);
  for (TvgVisualObject* s : SnapCandidates(selected_)) {
    const TBox o = BoxOf(s);
    bool close = false;
    for (float a : {me.l, me.r, me.cx()})
      for (float b : {o.l, o.r, o.cx()}) close |= LinedUp(a, b);
    for (float a : {me.t, me.b, me.cy()})
      for (float b : {o.t, o.b, o.cy()}) close |= LinedUp(a, b);
    if (close && std::find(snapObjects_.begin(), snapObjects_.end(), s) == snapObjects_.end()) snapObjects_.push_back(s);
  }
}

TvgPoint TvgSceneEngine::SnapToLines(const TvgPoint& p) {
  if (!DesignSnapToLines || selected_ == nullptr || snapObjects_.empty()) return p;
  TvgVisualObject* parent = AsVisual(selected_->GetParent());
  if (parent == nullptr) return p;
  TvgPoint q = parent->AbsoluteToLocal(selected_->LocalToAbsolute(p));
  const TvgPoint original = q;
  for (TvgVisualObject* s : snapObjects_) {
    const TBox o = BoxOf(s);
    for (float x : {o.l, o.r})
      if (Near(original.X, x)) q.X = x;
    for (float y : {o.t, o.b})
      if (Near(original.Y, y)) q.Y = y;
  }
  return selected_->AbsoluteToLocal(parent->LocalToAbsolute(q));
}

// --- Press, move, release

void TvgSceneEngine::DesignMouseDown(int32_t button, uint32_t shiftBits) {
  const TShiftState shift = ToShift(shiftBits);
  if (children_.empty()) {
    // A scene being designed always has a root to put things in.
    auto* root = new TvgBackground(GetOwner());
    if (g_designer != nullptr) root->SetName(g_designer->UniqueName("Root"));
    AddObject(root);
    RealignRoot();
  }
  if (button == 1) {
    if (DesignMenuEnabled) host_->HostShowDesignMenu(BuildDesignMenu(rawMousePos_), rawMousePos_);
    return;
  }
  if (selected_ != nullptr && !selected_->GetDesignHide()) {
    const int32_t handle = SelectionHandleAt(selected_->AbsoluteToLocal(rawMousePos_));
    if (handle >= 0) {
      designHandle_ = handle;
      designMove_ = false;
      TellSelection();
      if (OnDesignSelect) OnDesignSelect();
      return;
    }
  }
  TvgVisualObject* o = ObjectAtPoint(rawMousePos_.X, rawMousePos_.Y);
  if (o != nullptr && o == selected_ && shift.Contains(ssDouble)) o->DesignClick();
  if (!shift.Contains(ssCtrl) || o == selected_) {
    multiSelection_.clear();
    SelectDesign(o);
    if (OnDesignSelect) OnDesignSelect();
    designMove_ = o != nullptr;
  } else if (o != nullptr) {
    auto it = std::find(multiSelection_.begin(), multiSelection_.end(), o);
    if (it != multiSelection_.end()) *it = selected_;
    else multiSelection_.push_back(o);
    if (g_designer != nullptr) g_designer->SelectionChanged(control_, selected_, static_cast<int32_t>(multiSelection_.size()));
  }
}

// Handles in the selection's local coordinates: 0..3 corners, 4..7 side middles, 8 rotation.
int32_t TvgSceneEngine::SelectionHandleAt(const TvgPoint& p) {
  if (selected_ == nullptr) return -1;
  const float w = selected_->GetWidth(), h = selected_->GetHeight();
  if (p.X >= w / 2 - 3 && p.X <= w / 2 + 3 && p.Y >= -13 && p.Y <= -7) return 8;
  const TvgPoint centres[8] = {{0, 0}, {w, 0}, {0, h}, {w, h}, {w / 2, 0}, {w / 2, h}, {0, h / 2}, {w, h / 2}};
  for (int32_t i = 0; i < 8; ++i) {
    if (std::fabs(p.X - centres[i].X) <= kHandleHalf && std::fabs(p.Y - centres[i].Y) <= kHandleHalf) return i;
  }
  return -1;
}

void TvgSceneEngine::RepaintHandle(int32_t handle) {
  if (handle < 0 || selected_ == nullptr) return;
  const float w = selected_->GetWidth(), h = selected_->GetHeight();
  const TvgPoint centres[9] = {{0, 0}, {w, 0}, {0, h}, {w, h}, {w / 2, 0}, {w / 2, h}, {0, h / 2}, {w, h / 2}, {w / 2, -10}};
  const TvgPoint c = centres[handle];
  TvgRect area;
  bool first = true;
  for (const TvgPoint corner : {vgPoint(c.X - kHandleHalf, c.Y - kHandleHalf), vgPoint(c.X + kHandleHalf, c.Y - kHandleHalf),
                                vgPoint(c.X - kHandleHalf, c.Y + kHandleHalf), vgPoint(c.X + kHandleHalf, c.Y + kHandleHalf)}) {
    const TvgPoint a = selected_->LocalToAbsolute(corner);
    const TvgRect one = vgRect(a.X, a.Y, a.X, a.Y);
    area = first ? one : vgUnionRect(area, one);
    first = false;
  }
  vgInflateRect(area, 2, 2);
  AddUpdateRect(area);
}

void TvgSceneEngine::UpdateHotHandle() {
  const int32_t hot = selected_ != nullptr ? SelectionHandleAt(selected_->AbsoluteToLocal(rawMousePos_)) : -1;
  if (hot == hotHandle_) return;
  RepaintHandle(hotHandle_);
  hotHandle_ = hot;
  RepaintHandle(hot);
}

void TvgSceneEngine::DesignMouseMove(uint32_t shiftBits) {
  const TShiftState shift = ToShift(shiftBits);
  UpdateHotHandle();
  if (selected_ == nullptr || !shift.Contains(ssLeft)) return;
  if (designMove_) {
    DesignMove(shift.Contains(ssAlt));
  } else if (designHandle_ == 8) {
    const float w = selected_->GetWidth(), h = selected_->GetHeight();
    const TvgPoint a = selected_->AbsoluteToLocal(downPos_);
    const TvgPoint b = selected_->AbsoluteToLocal(rawMousePos_);
    const TvgPoint va = vgPoint(a.X - w / 2, a.Y - h / 2), vb = vgPoint(b.X - w / 2, b.Y - h / 2);
    const float la = std::hypot(va.X, va.Y), lb = std::hypot(vb.X, vb.Y);
    if (la > 0 && lb > 0) {
      const float cosine = std::clamp((va.X * vb.X + va.Y * vb.Y) / (la * lb), -1.0f, 1.0f);
      const float angle = std::acos(cosine) * 180.0f / 3.14159265f;
      const float cross = va.X * vb.Y - va.Y * vb.X;
      selected_->SetRotateAngle(selected_->GetRotateAngle() + (cross >= 0 ? -angle : angle));
    }
  } else if (designHandle_ >= 0) {
    DesignResize();
  }
}

void TvgSceneEngine::DesignMove(bool alt) {
  TvgVisualObject* parent = AsVisual(selected_->GetParent());
  TvgPoint delta = vgPoint(rawMousePos_.X - downPos_.X, rawMousePos_.Y - downPos_.Y);
  if (parent != nullptr) delta = parent->AbsoluteToLocalVector(delta);
  TvgPosition* pos = selected_->GetPosition();
  TvgPoint to = vgPoint(SnapToGrid(pos->GetX() + delta.X), SnapToGrid(pos->GetY() + delta.Y));
  pos->SetPoint(to);
  if (DesignSnapToLines && parent != nullptr) {
    // The moved box lines up with a sibling's edge it comes within 4 units of.
    const float w = selected_->GetWidth(), h = selected_->GetHeight();
    const TvgPoint moved = to;
    for (TvgVisualObject* s : SnapCandidates(selected_)) {
      const TBox o = BoxOf(s);
      for (float x : {o.l, o.r}) {
        if (Near(moved.X, x)) to.X = x;
        else if (Near(moved.X + w, x)) to.X = x - w;
      }
      for (float y : {o.t, o.b}) {
        if (Near(moved.Y, y)) to.Y = y;
        else if (Near(moved.Y + h, y)) to.Y = y - h;
      }
    }
    pos->SetPoint(to);
    CollectSnapObjects();
  }
  // The object the selection would be dropped into; the selection itself is not hit meanwhile.
  const bool locked = selected_->GetLocked();
  selected_->SetLocked(true);
  TvgVisualObject* under = ObjectAtPoint(rawMousePos_.X, rawMousePos_.Y);
  selected_->SetLocked(locked);
  if (under != nullptr && (IsInside(under, selected_) || under == parent)) under = nullptr;
  if (under != designPlaceObject_) {
    if (designPlaceObject_ != nullptr) designPlaceObject_->Repaint();
    designPlaceObject_ = under;
    if (under != nullptr) under->Repaint();
  }
  if (under != nullptr && alt) {
    // Into the place object at once, keeping where it is on the screen.
    const TvgPoint origin = selected_->LocalToAbsolute(vgPoint(0, 0));
    under->AddObject(selected_);
    selected_->GetPosition()->SetPoint(under->AbsoluteToLocal(origin));
    snapObjects_.clear();
  }
}

void TvgSceneEngine::DesignResize() {
  // Every sibling may catch the edge; the ones lined up afterwards show snap lines.
  snapObjects_ = SnapCandidates(selected_);
  const TvgPoint p = SnapToLines(selected_->AbsoluteToLocal(rawMousePos_));
  snapObjects_.clear();
  TvgRect r = selected_->GetLocalRect();
  switch (designHandle_) {
    case 0: r.Left = p.X; r.Top = p.Y; break;
    case 1: r.Right = p.X; r.Top = p.Y; break;
    case 2: r.Left = p.X; r.Bottom = p.Y; break;
    case 3: r.Right = p.X; r.Bottom = p.Y; break;
    case 4: r.Top = p.Y; break;
    case 5: r.Bottom = p.Y; break;
    case 6: r.Left = p.X; break;
    case 7: r.Right = p.X; break;
    default: break;
  }
  // The local rect into the parent's coordinates.
  const TvgPoint tl = selected_->LocalToAbsolute(vgPoint(r.Left, r.Top));
  const TvgPoint br = selected_->LocalToAbsolute(vgPoint(r.Right, r.Bottom));
  TvgVisualObject* parent = AsVisual(selected_->GetParent());
  const TvgPoint ptl = parent != nullptr ? parent->AbsoluteToLocal(tl) : tl;
  const TvgPoint pbr = parent != nullptr ? parent->AbsoluteToLocal(br) : br;
  selected_->SetBoundsRect(vgRect(ptl.X, ptl.Y, pbr.X, pbr.Y));
  CollectSnapObjects();
}

void TvgSceneEngine::DesignMouseUp() {
  if (designPlaceObject_ != nullptr) {
    designPlaceObject_->Repaint();
    designPlaceObject_ = nullptr;
  }
  if (!snapObjects_.empty()) {
    // The snap lines go with the drag.
    if (TvgVisualObject* parent = selected_ != nullptr ? AsVisual(selected_->GetParent()) : nullptr) parent->Repaint();
    snapObjects_.clear();
  }
  const bool changed = (designMove_ || designHandle_ >= 0) && selected_ != nullptr;
  if (changed) {
    if (TvgVisualObject* parent = AsVisual(selected_->GetParent())) parent->Realign();
    else RealignRoot();
  }
  designMove_ = false;
  designHandle_ = -1;
  if (changed) TellModified();
}

bool TvgSceneEngine::DesignHitTest(float x, float y) {
  if (designMove_ || designHandle_ >= 0) return true;
  if (ObjectAtPoint(x, y) != nullptr) return true;
  return selected_ != nullptr && vgPtInRect(vgPoint(x, y), selected_->GetAbsoluteRect());
}

void TvgSceneEngine::SetSelected(TvgVisualObject* value) {
  if (value == nullptr || value->GetScene() != self_) return;
  selected_ = value;
  value->DesignSelect();
  AddUpdateRect(vgRect(0, 0, 10000, 10000));
  Draw();
}

// --- Insertion and the menu's commands

void TvgSceneEngine::InsertObject(const std::string& className) {
  const TClassInfo* cls = GetClass(className);
  if (cls == nullptr || !cls->InheritsFrom(TvgObject::StaticClassInfo())) return;
  TvgVisualObject* former = selected_;
  if (former == nullptr && !children_.empty()) return;
  auto* obj = dynamic_cast<TvgObject*>(cls->Create(GetOwner()));
  if (obj == nullptr) return;
  if (g_designer != nullptr) obj->SetName(g_designer->UniqueName(NameBase(obj)));
  if (former != nullptr) former->AddObject(obj);
  else AddObject(obj);
  if (TvgVisualObject* v = obj->Visual()) {
    if (const TPropInfo* text = GetPropInfo(obj, "Text"); text != nullptr && text->IsWritable())
      SetWideStrProp(obj, text, Utf8ToWide(MenuClassName(className)));
    if (menuPointSet_ && className.find("Item") == std::string::npos && menuPoint_.X >= 0 && menuPoint_.Y >= 0 &&
        menuPoint_.X <= static_cast<float>(host_->HostWidth()) && menuPoint_.Y <= static_cast<float>(host_->HostHeight())) {
      TvgVisualObject* parent = AsVisual(obj->GetParent());
      v->GetPosition()->SetPoint(parent != nullptr ? parent->AbsoluteToLocal(menuPoint_) : menuPoint_);
    }
    menuPointSet_ = false;
    SelectDesign(v);
    v->DesignInsert();
  }
  TellModified();
  if (OnDesignSelect) OnDesignSelect();
  if (former != nullptr) former->Realign();
}

void TvgSceneEngine::DesignDeleteSelection() {
  if (selected_ == nullptr || selected_ == GetRoot()) return;
  TvgVisualObject* next = AsVisual(selected_->GetParent());
  if (next == nullptr) next = AsVisual(GetRoot());
  TvgVisualObject* gone = selected_;
  selected_ = nullptr;
  hotHandle_ = -1;
  delete gone;
  SelectDesign(next);
  AddUpdateRect(vgRect(0, 0, 10000, 10000));
  TellModified();
}

void TvgSceneEngine::DesignToggleHide() {
  if (selected_ == nullptr || selected_ == GetRoot()) return;
  selected_->SetDesignHide(!selected_->GetDesignHide());
  if (selected_->GetDesignHide()) SelectDesign(AsVisual(selected_->GetParent()));
  AddUpdateRect(vgRect(0, 0, 10000, 10000));
  TellModified();
}

void TvgSceneEngine::AdoptDesignTree(TvgObject* tree) {
  if (tree == nullptr) return;
  TComponent* owner = GetOwner();
  std::vector<TvgObject*> all;
  tree->AddObjectsToList(all);
  for (TvgObject* obj : all) {
    if (!obj->GetStored()) continue;  // style parts stay unnamed and with their control
    if (g_designer != nullptr) {
      obj->SetName(g_designer->UniqueName(obj->GetName().empty() ? NameBase(obj) : obj->GetName()));
    } else if (owner != nullptr && !obj->GetName().empty() && owner->FindComponent(obj->GetName()) != nullptr) {
      obj->SetName(std::string());
    }
    if (owner != nullptr) owner->InsertComponent(obj);
  }
  TvgObject* parent = selected_ != nullptr ? static_cast<TvgObject*>(selected_) : GetRoot();
  if (parent != nullptr) parent->AddObject(tree);
  else AddObject(tree);
  AddUpdateRect(vgRect(0, 0, 10000, 10000));
  TellModified();
}

void TvgSceneEngine::DesignLoadFromFile() {
  std::string fileName;
  if (!host_->HostOpenFile(kSceneFileFilter, fileName) || !FileExists(fileName)) return;
  TComponent* loaded = nullptr;
  try {
    TFileStream file(fileName, fmOpenRead);
    if (TestStreamFormat(file) == sofBinary) {
      loaded = vgCreateObjectFromBinStream(nullptr, file);
    } else {
      std::string text(static_cast<size_t>(file.GetSize()), '\0');
      file.SetPosition(0);
      if (!text.empty()) file.ReadBuffer(text.data(), static_cast<int64_t>(text.size()));
      loaded = vgCreateObjectFromText(nullptr, text);
    }
  } catch (const Exception&) {
    loaded = nullptr;
  }
  auto* obj = dynamic_cast<TvgObject*>(loaded);
  if (obj == nullptr) {
    delete loaded;
    return;
  }
  AdoptDesignTree(obj);
}

void TvgSceneEngine::DesignCopy() {
  if (selected_ == nullptr) return;
  TStringStream text;
  selected_->SaveToTextStream(text);
  vgDesignClipboard() = text.DataString();
}

void TvgSceneEngine::DesignPaste() {
  if (vgDesignClipboard().empty()) return;
  auto* obj = dynamic_cast<TvgObject*>(vgCreateObjectFromText(nullptr, vgDesignClipboard()));
  AdoptDesignTree(obj);
}

void TvgSceneEngine::DesignEditStyle(bool custom) {
  if (selected_ == nullptr) return;
  if (style_ == nullptr) {
    auto* resources = new TvgResources(GetOwner());
    auto* root = new TvgBackground(nullptr);
    if (g_designer != nullptr) {
      resources->SetName(g_designer->UniqueName(NameBase(resources)));
      root->SetName(g_designer->UniqueName(NameBase(root)));
    }
    resources->SetRootObject(root);
    SetStyle(resources);
  }
  TvgObject* root = style_->GetRoot();
  if (root == nullptr) {
    style_->SetRootObject(new TvgBackground(nullptr));
    root = style_->GetRoot();
  }
  std::vector<TvgObject*> controls;
  selected_->AddControlsToList(controls);
  std::string selectedName;
  for (TvgObject* obj : controls) {
    auto* control = dynamic_cast<TvgControl*>(obj);
    if (control == nullptr || !control->GetStored()) continue;
    if (custom && control->GetResource().empty() && g_designer != nullptr)
      control->SetResource(g_designer->UniqueName(NameBase(control) + "Style"));
    const std::string name = !control->GetResource().empty() || custom
                                 ? control->GetResource()
                                 : TvgControl::StyleNameOfClass(control->ClassInfo());
    if (name.empty()) continue;
    if (selectedName.empty()) selectedName = name;
    if (root->FindResource(name) != nullptr) continue;
    TvgObject* copy = control->LookupStyle();
    if (copy == nullptr) continue;
    // The copy belongs to the style tree now, not to the control.
    if (copy->GetOwner() != nullptr) copy->GetOwner()->RemoveComponent(copy);
    copy->SetResourceName(name);
    root->AddObject(copy);
  }
  style_->NotifyScenes();
  TellModified();
  if (g_designer != nullptr) g_designer->EditStyle(style_, selectedName);
}

TvgDesignMenuItem TvgSceneEngine::BuildDesignMenu(const TvgPoint& clientPoint) {
  menuPoint_ = clientPoint;
  menuPointSet_ = true;
  TvgDesignMenuItem menu;
  // Items are added through pointers into their parent's list: each is filled before its
  // parent list grows again.
  auto add = [&](std::vector<TvgDesignMenuItem>& into, const std::string& caption, std::function<void()> run,
                 bool enabled = true, bool checked = false) {
    TvgDesignMenuItem item;
    item.Caption = caption;
    item.OnClick = std::move(run);
    item.Enabled = enabled;
    item.Checked = checked;
    into.push_back(std::move(item));
    return &into.back();
  };
  auto repaintAll = [this] { AddUpdateRect(vgRect(0, 0, 10000, 10000)); };
  // Items the selection takes, then every registered class by category.
  if (selected_ != nullptr) {
    const std::string names = selected_->GetItemClassNames();
    size_t start = 0;
    while (start <= names.size()) {
      const size_t end = std::min(names.find(';', start), names.size());
      const std::string name = MenuClassName(Trim(names.substr(start, end - start)));
      if (!name.empty()) add(menu.Items, "Add " + name, [this, name] { InsertObject("Tvg" + name); });
      start = end + 1;
    }
  }
  TvgDesignMenuItem* addObject = add(menu.Items, "Add object", nullptr);
  // One submenu per category (compared without regard to case), in the registry's order.
  std::map<std::string, std::vector<std::string>> categories;
  std::vector<std::string> categoryOrder;
  for (const auto& [category, cls] : vgObjectCategories()) {
    const std::string key = UpperCase(category);
    if (categories.find(key) == categories.end()) categoryOrder.push_back(category);
    std::vector<std::string>& names = categories[key];
    const std::string name = MenuClassName(cls->Name);
    if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
  }
  for (const std::string& category : categoryOrder) {
    TvgDesignMenuItem* sub = add(addObject->Items, category, nullptr);
    std::vector<std::string> names = categories[UpperCase(category)];
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) { return CompareText(a, b) < 0; });
    for (const std::string& name : names) {
      add(sub->Items, name, [this, name] {
        std::string bare = name;
        std::erase(bare, '&');
        InsertObject("Tvg" + bare);
      });
    }
  }
  const bool notRoot = selected_ != nullptr && selected_ != GetRoot();
  add(menu.Items, "Delete object", [this] { DesignDeleteSelection(); }, notRoot);
  add(menu.Items, "Load From File...", [this] { DesignLoadFromFile(); });
  add(menu.Items, "Hide in Design-time", [this] { DesignToggleHide(); }, notRoot,
      selected_ != nullptr && selected_->GetDesignHide());
  add(menu.Items, "Edit Default Style...", [this] { DesignEditStyle(false); }, selected_ != nullptr);
  add(menu.Items, "Edit Custom Style...", [this] { DesignEditStyle(true); }, selected_ != nullptr);
  add(menu.Items, "Tab Order...", [this] {
    if (TvgVisualObject* parent = selected_ != nullptr ? AsVisual(selected_->GetParent()) : nullptr)
      host_->HostEditTabOrder(parent);
  }, selected_ != nullptr && AsVisual(selected_->GetParent()) != nullptr);
  TvgDesignMenuItem* order = add(menu.Items, "Order", nullptr);
  add(order->Items, "Bring to front", [this, repaintAll] {
    if (selected_ == nullptr) return;
    selected_->BringToFront();
    repaintAll();
    TellModified();
  });
  add(order->Items, "Send to back", [this, repaintAll] {
    if (selected_ == nullptr) return;
    selected_->SendToBack();
    repaintAll();
    TellModified();
  });
  TvgDesignMenuItem* edit = add(menu.Items, "Edit", nullptr);
  add(edit->Items, "Copy to clipboard", [this] { DesignCopy(); }, selected_ != nullptr);
  add(edit->Items, "Paste from clipboard", [this] { DesignPaste(); }, !vgDesignClipboard().empty());
  TvgDesignMenuItem* grid = add(menu.Items, "Grid", nullptr);
  add(grid->Items, "Show snap grid", [this, repaintAll] {
    DesignSnapGridShow = !DesignSnapGridShow;
    repaintAll();
  }, true, DesignSnapGridShow);
  add(grid->Items, "Snap to grid", [this, repaintAll] {
    DesignSnapToGrid = true;
    DesignSnapToLines = false;
    repaintAll();
  }, true, DesignSnapToGrid);
  add(grid->Items, "Snap to lines", [this, repaintAll] {
    DesignSnapToLines = true;
    DesignSnapToGrid = false;
    repaintAll();
  }, true, DesignSnapToLines);
  add(grid->Items, "Snap disabled", [this, repaintAll] {
    DesignSnapToGrid = false;
    DesignSnapToLines = false;
    repaintAll();
  }, true, !DesignSnapToGrid && !DesignSnapToLines);
  return menu;
}

// --- Overlays

void TvgSceneEngine::PaintDesignOverlays() {
  if (!designTime_) return;
  TvgCanvas* c = canvas_.get();
  if (selected_ != nullptr && !selected_->GetDesignHide()) {
    const float w = selected_->GetWidth(), h = selected_->GetHeight();
    c->SetMatrix(selected_->GetAbsoluteMatrix());
    c->GetFill()->SetStyle(vgBrushSolid);
    c->GetStroke()->SetStyle(vgBrushSolid);
    c->GetStroke()->SetSolidColor(kSelectionColor);
    c->SetStrokeThickness(1);
    c->DrawRect(vgRect(0.5f, 0.5f, w - 0.5f, h - 0.5f), 0, 0, vgAllCorners, 1);
    c->DrawLine(vgPoint(w / 2, 0), vgPoint(w / 2, -10), 1);
    auto fillFor = [&](int32_t handle) {
      c->GetFill()->SetSolidColor(handle == hotHandle_ ? kHotHandleColor : 0xFFFFFFFFu);
    };
    auto circle = [&](int32_t handle, float x, float y) {
      fillFor(handle);
      const TvgRect r = vgRect(x - 3, y - 3, x + 3, y + 3);
      c->FillEllipse(r, 1);
      c->DrawEllipse(r, 1);
    };
    auto square = [&](int32_t handle, float x, float y) {
      fillFor(handle);
      const TvgRect r = vgRect(x - 3, y - 3, x + 3, y + 3);
      c->FillRect(r, 0, 0, vgAllCorners, 1);
      c->DrawRect(r, 0, 0, vgAllCorners, 1);
    };
    circle(8, w / 2, -10);
    circle(0, 0, 0);
    circle(1, w, 0);
    circle(2, 0, h);
    circle(3, w, h);
    if (w > 12) {
      square(4, w / 2, 0);
      square(5, w / 2, h);
    }
    if (h > 12) {
      square(6, 0, h / 2);
      square(7, w, h / 2);
    }
  }
  PaintSnapLines();
  PaintPlaceLabel();
}

void TvgSceneEngine::PaintSnapLines() {
  if (!(designMove_ || designHandle_ >= 0) || snapObjects_.empty() || selected_ == nullptr) return;
  TvgVisualObject* parent = AsVisual(selected_->GetParent());
  if (parent == nullptr) return;
  TvgCanvas* c = canvas_.get();
  c->SetMatrix(parent->GetAbsoluteMatrix());
  c->GetStroke()->SetStyle(vgBrushSolid);
  c->GetStroke()->SetSolidColor(kSelectionColor);
  c->SetStrokeThickness(1);
  const TBox m = BoxOf(selected_);
  auto vertical = [&](float x, float y1, float y2) { c->DrawLine(vgPoint(x + 0.5f, y1 + 0.5f), vgPoint(x + 0.5f, y2 + 0.5f), 1); };
  auto horizontal = [&](float y, float x1, float x2) { c->DrawLine(vgPoint(x1 + 0.5f, y + 0.5f), vgPoint(x2 + 0.5f, y + 0.5f), 1); };
  for (TvgVisualObject* s : snapObjects_) {
    const TBox o = BoxOf(s);
    const float top = std::min(o.t, m.t), bottom = std::max(o.b, m.b);
    const float left = std::min(o.l, m.l), right = std::max(o.r, m.r);
    if (Equal(o.cx(), m.cx())) vertical(m.cx(), o.cy(), m.cy());
    if (Equal(o.cy(), m.cy())) horizontal(m.cy(), o.cx(), m.cx());
    if (Equal(o.l, m.l)) vertical(m.l, top, bottom);
    if (Equal(o.t, m.t)) horizontal(m.t, left, right);
    if (Equal(m.b, o.t)) horizontal(m.b, left, right);
    if (Equal(m.r, o.l)) vertical(m.r, top, bottom);
    if (Equal(o.b, m.t)) horizontal(m.t, left, right);
    if (Equal(o.r, m.l)) vertical(m.l, top, bottom);
    if (Equal(o.b, m.b)) horizontal(m.b, left, right);
    if (Equal(o.r, m.r)) vertical(m.r, top, bottom);
  }
}

void TvgSceneEngine::PaintPlaceLabel() {
  if (designPlaceObject_ == nullptr) return;
  TvgCanvas* c = canvas_.get();
  c->SetMatrix(IdentityMatrix);
  const TvgRect r = designPlaceObject_->GetAbsoluteRect();
  c->GetStroke()->SetStyle(vgBrushSolid);
  c->GetStroke()->SetSolidColor(kPlaceColor);
  c->SetStrokeThickness(1);
  c->DrawRect(r, 0, 0, vgAllCorners, 1);
  TvgRect label = vgRect(r.Left, r.Top - 19, r.Left + 160, r.Top);
  c->GetFill()->SetStyle(vgBrushSolid);
  c->GetFill()->SetSolidColor(kPlaceColor);
  c->FillRect(label, 0, 0, vgAllCorners, 1);
  vgInflateRect(label, -2, -2);
  const std::string name = designPlaceObject_->GetName().empty() ? designPlaceObject_->ClassName()
                                                                  : designPlaceObject_->GetName();
  c->GetFill()->SetSolidColor(0xFFFFFFFFu);
  c->GetFont()->SetFamily("Tahoma");
  c->GetFont()->SetSize(9);
  c->FillText(label, label, Utf8ToWide("ALT-drag to place into [" + name + "]"), false, 1, vgTextAlignNear,
              vgTextAlignCenter);
}
