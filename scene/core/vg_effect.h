// The effect base: a non-visual child that decorates its visual parent's painting (enabling,
// triggers, telling the parent to render its effects again).
#pragma once

#include <string>

#include "vg_object.h"
#include "vg_types.h"

class TvgBitmap;
class TvgCanvas;

class TvgEffect : public TvgObject {
  KBL_DECLARE_CLASS(TvgEffect, TvgObject)
 public:
  explicit TvgEffect(TComponent* owner);

  // The area the effect covers for an object rendered over `rect`; unchanged here.
  virtual TvgRect GetRect(const TvgRect& rect) { return rect; }
  // Where the effect's image goes relative to the object.
  virtual TvgPoint GetOffset() { return TvgPoint(); }
  // Transforms the rendered (premultiplied) bitmap of an object drawn at `scale`; the first
  // argument is passed by the painting code and not used.
  virtual void ProcessEffect(TvgCanvas* reserved, TvgBitmap* bitmap, float scale) {}
  // Switches Enabled to the outcome of the trigger when its text mentions `trigger`.
  virtual void ApplyTrigger(TvgObject* instance, const std::string& trigger);

  const std::string& GetTrigger() const { return trigger_; }
  void SetTrigger(const std::string& value) { trigger_ = value; }
  bool GetEnabled() const { return enabled_; }
  void SetEnabled(bool value);
  // Re-renders and repaints the parent's effects, covering this effect's area.
  void UpdateParentEffects();
  // Placement: the processed image replaces the object (blur, bevel) or is drawn over it
  // (inner glow); with neither it is drawn under it.
  bool ReplacesPainting() const { return replacesPainting_; }
  bool PaintsAfter() const { return paintsAfter_; }

 protected:
  bool replacesPainting_ = false;
  bool paintsAfter_ = false;

 private:
  std::string trigger_;
  bool enabled_ = true;
};
