// The effect base.
#include "vg_effect.h"

#include "vg_visualobject.h"

KBL_PUBLISHED(TvgEffect) {
  KBL_PROP(Trigger);
  KBL_PROP(Enabled).Default(true);
}

TvgEffect::TvgEffect(TComponent* owner) : TvgObject(owner) {}

void TvgEffect::SetEnabled(bool value) {
  if (enabled_ == value) return;
  enabled_ = value;
  TvgObject* parent = GetParent();
  if (value && parent != nullptr && parent->IsVisual()) {
    TvgVisualObject* v = parent->Visual();
    v->RecalcHasEffects();
    if (v->GetHasEffects()) {
      v->UpdateEffects();
      v->Repaint();
    }
  }
  UpdateParentEffects();
}

void TvgEffect::UpdateParentEffects() {
  if (HasState(csLoading)) return;
  TvgObject* parent = GetParent();
  if (parent == nullptr || !parent->IsVisual()) return;
  TvgVisualObject* v = parent->Visual();
  // The area to repaint must include this effect's area even when it has just been switched
  // off: count it as enabled while the update rect is computed and queued.
  const bool saved = enabled_;
  enabled_ = true;
  v->RecalcHasEffects();
  v->UpdateEffects();
  v->RecalcUpdateRect();
  v->Repaint();
  enabled_ = saved;
  v->RecalcHasEffects();
  v->RecalcUpdateRect();
}

void TvgEffect::ApplyTrigger(TvgObject* instance, const std::string& trigger) {
  if (trigger_.empty() || instance == nullptr || !vgTriggerMentions(trigger_, trigger)) return;
  const TvgTriggerResult result = vgEvaluateTrigger(instance, trigger_);
  SetEnabled(result.Evaluated > 0 && result.LastMatched);
}
