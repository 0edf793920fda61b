// Test support of the default style: loading and the table of roots and parts.
#include "DefaultStyleSupport.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "classlib/ResourceStream.h"
#include "scene/controls/vg_controls.h"
#include "scene/controls/vg_layouts.h"
#include "scene/core/ObjectsTestSupport.h"
#include "scene/core/vg_control.h"
#include "scene/core/vg_registry.h"

namespace {

using Parts = std::vector<std::string>;

Parts operator+(Parts a, const Parts& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

const Parts kText = {"text:TvgText", "foreground:TvgBrushObject"};
const Parts kScrollBox = {"content:TvgVisualObject",        "vscrollbar:TvgScrollBar", "hscrollbar:TvgScrollBar",
                          "vsmallscrollbar:TvgScrollBar",   "hsmallscrollbar:TvgScrollBar",
                          "sizegrip:TvgVisualObject"};
const Parts kList = kScrollBox + Parts{"selection:TvgVisualObject", "AlternatingRowBackground:TvgBrushObject"};
const Parts kTextBox = {"content:TvgContent", "selection:TvgBrushObject", "foreground:TvgBrushObject"};
const Parts kSpinBox = kTextBox + Parts{"minusbutton:TvgCustomButton", "plusbutton:TvgCustomButton"};
const Parts kMemo = kScrollBox + Parts{"selection:TvgBrushObject", "foreground:TvgBrushObject"};
const Parts kTrack = {"thumb:TvgThumb", "background:TvgShape"};
const Parts kScrollBar = {"htrack:TvgCustomTrack",        "vtrack:TvgCustomTrack",     "leftbutton:TvgCustomButton",
                          "rightbutton:TvgCustomButton",  "topbutton:TvgCustomButton", "bottombutton:TvgCustomButton"};
const Parts kProgress = {"htrack:TvgVisualObject", "vtrack:TvgVisualObject", "hindicator:TvgVisualObject",
                         "vindicator:TvgVisualObject"};
const Parts kListItem = kText + Parts{"check:TvgCheckBox"};
const Parts kGrid = kScrollBox + Parts{"header:TvgVisualObject", "selection:TvgVisualObject", "focus:TvgVisualObject",
                                       "AlternatingRowBackground:TvgBrushObject", "LineFill:TvgBrushObject"};

}  // namespace

const std::vector<TStyleCase>& StyleCases() {
  static const std::vector<TStyleCase> cases = {
      // --- Windows, panels and bars
      {"TvgBackground", "backgroundstyle", {}},
      {"TvgPanel", "panelstyle", {}},
      {"TvgHudPanel", "hudpanelstyle", {}},
      {"TvgToolBar", "toolbarstyle", {}},
      {"TvgStatusBar", "statusbarstyle", {"sizegrip:TvgSizeGrip"}},
      {"TvgHudStatusBar", "hudstatusbarstyle", {"sizegrip:TvgSizeGrip"}},
      {"TvgSizeGrip", "sizegripstyle", {}},
      {"TvgHudSizeGrip", "hudsizegripstyle", {}},
      {"TvgCloseButton", "closebuttonstyle", {}},
      {"TvgHudCloseButton", "hudclosebuttonstyle", {}},
      {"TvgWindow", "windowstyle", kText + Parts{"close:TvgCloseButton", "sizegrip:TvgSizeGrip"}},
      {"TvgHudWindow", "hudwindowstyle",
       kText + Parts{"close:TvgCloseButton", "sizegrip:TvgSizeGrip", "back:TvgShape", "stroke:TvgShape",
                     "caption:TvgVisualObject"}},
      {"TvgGroupBox", "groupboxstyle", kText},
      {"TvgHudGroupBox", "hudgroupboxstyle", kText},
      {"TvgSplitter", "splitterstyle", {"grip:TvgVisualObject"}},
      {"TvgExpander", "expanderstyle", kText + Parts{"button:TvgCustomButton", "checkbox:TvgCheckBox"}},
      {"TvgExpanderButton", "expanderbuttonstyle", kText},
      {"", "expandercheckboxstyle", kText},
      {"TvgImageControl", "imagecontrolstyle", {"image:TvgImage"}},
      {"TvgMessagePopup", "messagepopupstyle", {}},
      {"TvgPopup", "", {}},
      {"", "droptargetstyle", {"text:TvgText"}},
      // --- Captions
      {"TvgLabel", "labelstyle", kText},
      {"TvgHudLabel", "hudlabelstyle", kText},
      {"TvgValueLabel", "valuelabelstyle", kText},
      // --- Buttons
      {"TvgButton", "buttonstyle", kText},
      {"TvgHudButton", "hudbuttonstyle", kText},
      {"TvgRoundButton", "roundbuttonstyle", kText},
      {"TvgHudRoundButton", "hudroundbuttonstyle", kText},
      {"TvgCircleButton", "circlebuttonstyle", kText},
      {"TvgHudCircleButton", "hudcirclebuttonstyle", kText},
      {"TvgCornerButton", "cornerbuttonstyle", kText + Parts{"Background:TvgRectangle"}},
      {"TvgHudCornerButton", "hudcornerbuttonstyle", kText + Parts{"Background:TvgRectangle"}},
      {"TvgSpeedButton", "speedbuttonstyle", kText},
      {"TvgHudSpeedButton", "hudspeedbuttonstyle", kText},
      {"TvgPopupButton", "popupbuttonstyle", kText},
      {"TvgPopupBox", "popupboxstyle", kText},
      {"TvgHudPopupBox", "hudpopupboxstyle", kText},
      {"TvgColorButton", "colorbuttonstyle", kText + Parts{"fill:TvgShape"}},
      {"TvgBitmapButton", "bitmapbuttonstyle", kText + Parts{"image:TvgImage"}},
      {"TvgToolButton", "toolbuttonstyle", kText + Parts{"image:TvgImage"}},
      {"TvgPathButton", "pathbuttonstyle", kText + Parts{"path:TvgPath", "pathowner:TvgVisualObject"}},
      {"TvgToolPathButton", "toolpathbuttonstyle", kText + Parts{"path:TvgPath", "pathowner:TvgVisualObject"}},
      {"TvgBitmapStateButton", "", {}},
      {"TvgAngleButton", "anglebuttonstyle", {"tick:TvgVisualObject", "tracktext:TvgText", "text:TvgText"}},
      {"TvgHudAngleButton", "hudanglebuttonstyle", {"tick:TvgVisualObject", "tracktext:TvgText", "text:TvgText"}},
      {"", "transparentbuttonstyle", kText},
      {"", "iphonebuttonstyle", kText},
      // --- Check boxes
      {"TvgCheckBox", "checkboxstyle", kText},
      {"TvgHudCheckBox", "hudcheckboxstyle", kText},
      {"TvgPathCheckBox", "pathcheckboxstyle", kText + Parts{"checkmark:TvgPath"}},
      {"TvgRadioButton", "radiobuttonstyle", kText},
      {"TvgHudRadioButton", "hudradiobuttonstyle", kText},
      // --- Tracks, scroll bars, progress and busy indicators
      {"TvgTrack", "trackstyle", kTrack},
      {"TvgHudTrack", "hudtrackstyle", kTrack},
      {"TvgTrackBar", "trackbarstyle", kTrack},
      {"TvgHudTrackBar", "hudtrackbarstyle", kTrack},
      {"", "thumbbarstyle", {}},
      {"", "hthumbstyle", {}},
      {"", "vthumbstyle", {}},
      {"", "scrollbarhtrackstyle", {"thumb:TvgThumb"}},
      {"", "scrollbarvtrackstyle", {"thumb:TvgThumb"}},
      {"", "smallscrollbarhtrackstyle", {"thumb:TvgThumb"}},
      {"", "smallscrollbarvtrackstyle", {"thumb:TvgThumb"}},
      {"TvgScrollBar", "scrollbarstyle", kScrollBar},
      {"TvgHudScrollBar", "hudscrollbarstyle", kScrollBar},
      // Small bars leave out the arrow buttons (the bar is 8 units thick).
      {"TvgSmallScrollBar", "smallscrollbarstyle", {"htrack:TvgCustomTrack", "vtrack:TvgCustomTrack"}},
      {"TvgProgressBar", "progressbarstyle", kProgress},
      {"TvgAniIndicator", "", {}},
      // --- Scroll boxes
      {"TvgScrollBox", "scrollboxstyle", kScrollBox},
      {"TvgVertScrollBox", "scrollboxstyle", kScrollBox},
      {"TvgFramedScrollBox", "framedscrollboxstyle", kScrollBox},
      {"TvgFramedVertScrollBox", "framedscrollboxstyle", kScrollBox},
      // --- Text boxes
      {"TvgTextBox", "textboxstyle", kTextBox},
      {"TvgHudTextBox", "hudtextboxstyle", kTextBox},
      {"TvgRoundTextBox", "roundtextboxstyle", kTextBox},
      {"TvgHudRoundTextBox", "hudroundtextboxstyle", kTextBox},
      {"TvgNumberBox", "numberboxstyle", kTextBox},
      {"TvgHudNumberBox", "hudnumberboxstyle", kTextBox},
      {"TvgSpinBox", "spinboxstyle", kSpinBox},
      {"TvgHudSpinBox", "hudspinboxstyle", kSpinBox},
      {"TvgTextBoxClearBtn", "textboxclearbtnstyle", kTextBox + Parts{"clearbutton:TvgCustomButton"}},
      {"TvgComboTextBox", "combotextboxstyle", kTextBox},
      {"TvgHudComboTextBox", "hudcombotextboxstyle", kTextBox},
      {"TvgComboTrackBar", "combotextboxstyle", kTextBox},
      {"TvgHudComboTrackBar", "hudcombotextboxstyle", kTextBox},
      {"TvgMemo", "memostyle", kMemo},
      {"TvgHudMemo", "hudmemostyle", kMemo},
      // --- Lists, combo boxes, tabs and trees
      {"TvgListBox", "listboxstyle", kList},
      {"TvgHudListBox", "hudlistboxstyle", kList},
      {"TvgStringListBox", "listboxstyle", kList},
      {"TvgHudStringListBox", "hudlistboxstyle", kList},
      {"TvgHorzListBox", "listboxstyle", kList},
      {"TvgHudHorzListBox", "hudlistboxstyle", kList},
      {"TvgComboListBox", "combolistboxstyle", kList},
      {"", "hudcombolistboxstyle", kList},
      {"TvgListBoxItem", "listboxitemstyle", kListItem},
      {"", "hudlistboxitemstyle", kListItem},
      {"", "imagelistboxitemstyle", kListItem + Parts{"image:TvgImage"}},
      {"TvgComboBox", "comboboxstyle", {"Content:TvgContent"}},
      {"TvgStringComboBox", "comboboxstyle", {"Content:TvgContent"}},
      {"TvgHudComboBox", "hudcomboboxstyle", {"Content:TvgContent"}},
      {"TvgHudStringComboBox", "hudcomboboxstyle", {"Content:TvgContent"}},
      {"", "combopopupstyle", {}},
      {"", "hudcombopopupstyle", {}},
      {"TvgTabControl", "tabcontrolstyle", {"background:TvgVisualObject"}},
      {"TvgHudTabControl", "hudtabcontrolstyle", {"background:TvgVisualObject"}},
      {"TvgTabItem", "tabitemstyle", kText},
      {"TvgHudTabItem", "hudtabitemstyle", kText},
      {"TvgTreeView", "treeviewstyle", kScrollBox + Parts{"selection:TvgVisualObject"}},
      {"TvgInspector", "treeviewstyle", kScrollBox + Parts{"selection:TvgVisualObject"}},
      {"TvgTreeViewItem", "treeviewitemstyle", kText + Parts{"button:TvgCustomButton", "check:TvgCheckBox"}},
      {"", "treeviewexpanderbuttonstyle", kText},
      // --- Grid
      {"TvgGrid", "gridstyle", kGrid},
      {"TvgStringGrid", "gridstyle", kGrid},
      {"TvgHeader", "", {}},
      {"TvgHeaderItem", "headeritemstyle", kText + Parts{"Background:TvgRectangle"}},
      {"TvgColumn", "", {}},
      {"TvgCheckColumn", "", {}},
      {"TvgProgressColumn", "", {}},
      {"TvgPopupColumn", "", {}},
      {"TvgImageColumn", "", {}},
      {"TvgStringColumn", "", {}},
      {"TvgTextCell", "textcellstyle", kTextBox},
      {"TvgCheckCell", "checkcellstyle", kText},
      {"TvgProgressCell", "progresscellstyle", kProgress},
      {"TvgPopupCell", "popupcellstyle", kText},
      {"TvgImageCell", "imagecellstyle", {"image:TvgImage"}},
      // --- Colours
      {"TvgHueTrackBar", "trackbarstyle", kTrack},
      {"TvgAlphaTrackBar", "trackbarstyle", kTrack},
      {"TvgBWTrackBar", "trackbarstyle", kTrack},
      {"TvgHudHueTrackBar", "hudtrackbarstyle", kTrack},
      {"TvgHudAlphaTrackBar", "hudtrackbarstyle", kTrack},
      {"TvgHudBWTrackBar", "hudtrackbarstyle", kTrack},
      {"TvgColorQuad", "", {}},
      {"TvgColorPicker", "", {}},
      {"TvgGradientEdit", "", {}},
      {"TvgColorBox", "", {}},
      {"TvgColorPanel", "", {}},
      {"TvgComboColorBox", "comboboxstyle", {"Content:TvgContent"}},
      {"TvgHudComboColorBox", "hudcomboboxstyle", {"Content:TvgContent"}},
  };
  return cases;
}

std::string DefaultStyleText() {
  const char* source = std::getenv("KBL_SOURCE_DIR");
  if (source == nullptr) return std::string();
  std::ifstream file(std::string(source) + "/resources/style/defaultvgstyle.txt", std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

TvgObject* UseDefaultStyle() {
  vgFreeDefaultStyle();
  if (TResourceStream::Exists("defaultvgstyle")) {
    vgLoadDefaultStyle();
  } else {
    vgSetDefaultStyle(dynamic_cast<TvgObject*>(vgCreateObjectFromText(nullptr, DefaultStyleText())));
  }
  return vgDefaultStyle();
}

TvgManualAniTimer* StartDefaultStyleTest() {
  RegisterProbeClasses();
  vgInitLayoutsUnit();
  TvgManualAniTimer* ticker = FreshManualTicker();
  vgSetControlTimerFactory([] { return std::unique_ptr<IvgAniTimer>(new TvgManualAniTimer); });
  UseDefaultStyle();
  return ticker;
}

void EndDefaultStyleTest() {
  vgSetControlTimerFactory(nullptr);
  vgFreeDefaultStyle();
  vgFreeAniThread();
}
