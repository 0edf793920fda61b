// The brush designer (form resource TVGBRUSHDESIGN): edits a scene brush's style on tab pages
// (none, solid colour, gradient, bitmap, named resource), with colour square, hue strip,
// component boxes and hexadecimal text, the gradient stop editor with kind and angle, the bitmap
// editor with a tile mode and the brush resources of the scene. The brush dialog runs it modally
// for a brush of its own. Win32 only; GUI thread only.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "classlib/Forms.h"
#include "scene/core/vg_brush.h"

class IvgScene;
class TvgAngleButton;
class TvgBrushObject;
class TvgColorBox;
class TvgColorPicker;
class TvgColorQuad;
class TvgCustomButton;
class TvgGradientEdit;
class TvgHudWindow;
class TvgImage;
class TvgLabel;
class TvgListBox;
class TvgListBoxItem;
class TvgNumberBox;
class TvgObject;
class TvgPopupBox;
class TvgTabControl;
class TvgTabItem;
class TvgTextBox;
class TvgVisualObject;

using TvgBrushStyles = TEnumSet<TvgBrushStyle>;

class TvgBrushDesign : public TForm {
  KBL_DECLARE_CLASS(TvgBrushDesign, TForm)
 public:
  explicit TvgBrushDesign(TComponent* owner);
  ~TvgBrushDesign() override;

  // The object whose published TvgBrush properties brushList offers (nullptr: none); its scene
  // (or the object itself when it is a scene) serves the resources. Edits the first brush.
  void SetComponent(TObject* object);
  // Shows and edits `brush` in place (not owned; nullptr: nothing more happens).
  void SetBrush(TvgBrush* brush);
  TvgBrush* GetEditedBrush() const { return editedBrush_; }
  TObject* GetEditedComponent() const { return editedComponent_; }
  // The angle, in degrees, that the designer's angle control turns into the direction of this
  // gradient's positions: (stop − start) as (dx, −dy) from the x axis; `angle` is left as it is
  // when start and stop coincide.
  static bool GradientAngle(const TvgGradient& gradient, float& angle);
  // Start and stop positions of a linear gradient at `degrees` in the unit square.
  static void AngleToPositions(float degrees, TvgPoint& start, TvgPoint& stop);
  // The resource list made again from the brush objects under the scene's root.
  void RebuildResources();
  // Adds a brush object named `name` holding a copy of the edited brush under the scene's root.
  TvgBrushObject* MakeResource(const std::string& name);

  // --- Handlers named by the form resource
  void FormCreate(TObject* sender);
  void FormClose(TObject* sender, TCloseAction& action);
  void brushListChange(TObject* sender);
  void brushTabControlChange(TObject* sender);
  void solidQuadChange(TObject* sender);
  void textSolidChange(TObject* sender);
  void textSolidHexChange(TObject* sender);
  void gradQuadChange(TObject* sender);
  void textGradChange(TObject* sender);
  void textGradHexChange(TObject* sender);
  void gradEditorChange(TObject* sender);
  void gradEditorSelectPoint(TObject* sender);
  void gradKindChange(TObject* sender);
  void gradAngleChange(TObject* sender);
  void btnSelectBitmapClick(TObject* sender);
  void tileModeListChange(TObject* sender);
  void resListChange(TObject* sender);
  void btnMakeResClick(TObject* sender);
  void btnOKClick(TObject* sender);
  void btnCancelClick(TObject* sender);

  // --- Parts of the form (found by name when it is created)
  TvgVisualObject* dsgnRoot = nullptr;
  TvgHudWindow* HudWindow1 = nullptr;
  TvgListBox* brushList = nullptr;
  TvgTabControl* brushTabControl = nullptr;
  TvgTabItem* tabs[5] = {};  // none, solid, gradient, bitmap, resource
  TvgColorQuad* solidQuad = nullptr;
  TvgColorPicker* solidPicker = nullptr;
  TvgColorBox* solidColorRect = nullptr;
  TvgNumberBox* textSolid[4] = {};  // R, G, B, A
  TvgTextBox* textSolidHex = nullptr;
  TvgGradientEdit* gradEditor = nullptr;
  TvgColorQuad* gradQuad = nullptr;
  TvgColorPicker* gradPicker = nullptr;
  TvgNumberBox* textGrad[4] = {};
  TvgTextBox* textGradHex = nullptr;
  TvgPopupBox* gradKind = nullptr;
  TvgAngleButton* gradAngle = nullptr;
  TvgLabel* gradAngleLabel = nullptr;
  TvgImage* bitmapImage = nullptr;
  TvgPopupBox* tileModeList = nullptr;
  TvgListBox* resList = nullptr;
  TvgVisualObject* Layout6 = nullptr;
  TvgVisualObject* makeResLayout = nullptr;
  TvgCustomButton* btnOK = nullptr;
  TvgCustomButton* btnCancel = nullptr;

 private:
  TvgColor QuadColor(TvgColorQuad* quad) const;
  // True when the quad stands for `color` (its RGB taken through hue, saturation, lightness).
  bool ShowsColor(TvgColorQuad* quad, TvgColor color) const;
  void ShowComponents(TvgNumberBox* const boxes[4], TvgTextBox* hex, TvgColor color);
  TvgColor ComponentsColor(TvgNumberBox* const boxes[4]) const;
  void SelectTabOf(TvgBrushStyle style);
  TvgBrushStyle StyleOfSelectedTab() const;
  void ShowAngle(float degrees);
  void ShowSelectedStop();
  TvgObject* SceneRoot() const;

  TvgBrush* editedBrush_ = nullptr;
  IvgScene* sceneLink_ = nullptr;
  TObject* editedComponent_ = nullptr;
  std::vector<std::pair<TvgListBoxItem*, TvgBrush*>> brushItems_;
  std::vector<std::pair<TvgListBoxItem*, TvgBrushObject*>> resourceItems_;
  int updating_ = 0;  // controls being filled from the brush: their changes write nothing back
};

// Runs the brush designer modally on a copy of a brush of its own: Brush takes the edits over
// only when the user accepts (Execute answers true); after Cancel it is as it was.
class TvgBrushDialog : public TComponent {
  KBL_DECLARE_CLASS(TvgBrushDialog, TComponent)
 public:
  explicit TvgBrushDialog(TComponent* owner);
  ~TvgBrushDialog() override;
  bool Execute();

  TvgBrushStyles GetShowStyles() const { return showStyles_; }
  void SetShowStyles(TvgBrushStyles value) { showStyles_ = value; }
  bool GetShowBrushList() const { return showBrushList_; }
  void SetShowBrushList(bool value) { showBrushList_ = value; }
  bool GetShowMakeResource() const { return showMakeResource_; }
  void SetShowMakeResource(bool value) { showMakeResource_ = value; }
  TvgBrush* GetBrush() const { return brush_; }
  void SetBrush(TvgBrush* value) { brush_->Assign(value); }
  const WideString& GetTitle() const { return title_; }
  void SetTitle(const WideString& value) { title_ = value; }
  // Context of the resource page: the object whose scene offers brush resources.
  TObject* GetContext() const { return context_; }
  void SetContext(TObject* value) { context_ = value; }

 private:
  TvgBrushStyles showStyles_;
  bool showBrushList_ = true;
  bool showMakeResource_ = false;
  TvgBrush* brush_;
  WideString title_ = u"Brush";
  TObject* context_ = nullptr;
};

// Shows the designer (not modally), made once and kept until it closes: for a brush (in the
// context of `component`), or for a scene object's brushes; nullptr for neither.
TvgBrushDesign* ShowBrushDesign(TvgBrush* brush, TComponent* component);
TvgBrushDesign* ShowBrushDesign(TObject* object);
// Edits a gradient in the dialog (gradients only, no brush list); true and the gradient
// assigned back on OK.
bool ShowGradientDialog(TvgGradient* gradient);
// Called with each design-time form right before it is shown modally (nullptr: none); lets a
// caller drive the form from inside its modal loop.
void vgSetDesignFormHook(std::function<void(TCustomForm*)> hook);
// Shows a design-time form modally, through the hook.
TModalResult vgShowDesignForm(TCustomForm* form);
