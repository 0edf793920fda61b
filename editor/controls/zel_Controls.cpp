// Registration of the maker's controls.
#include "zel_Controls.h"

#include "zel_BitmapButton.h"
#include "zel_Div.h"
#include "zel_FlatButton.h"
#include "zel_Label.h"
#include "zel_MultiLineText.h"
#include "zel_SampleDisplay.h"
#include "zel_ScrollBar.h"
#include "zel_knobs.h"

void ZelRegisterControls() {
  ZelRegisterLabel();
  ZelRegisterDiv();
  ZelRegisterBitmapButton();
  ZelRegisterKnobs();
  ZelRegisterSampleDisplay();
  ZelRegisterMultiLineText();
  ZelRegisterFlatButton();
  ZelRegisterScrollBar();
}
