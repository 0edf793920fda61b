// TvgZelDiv: a transparent box of the maker's library used for alignment and padding; it draws
// only its design-time outline. GUI thread only.
#pragma once

#include "zel_BaseControls.h"

class TvgZelDiv : public TvgZelControl {
  KBL_DECLARE_CLASS(TvgZelDiv, TvgZelControl)
 public:
  explicit TvgZelDiv(TComponent* owner);
  void Paint() override;
};

// Registers TvgZelDiv under "Zel Basic Controls" (once).
void ZelRegisterDiv();
