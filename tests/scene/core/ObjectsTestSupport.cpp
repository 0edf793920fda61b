// Test doubles of the object tree's tests.
#include "ObjectsTestSupport.h"

KBL_PUBLISHED(TPaintProbe) {}
KBL_PUBLISHED(TProbeAnimation) {}
KBL_PUBLISHED(TProbeEffect) {}
KBL_PUBLISHED(TvgProbeButton) {}
KBL_PUBLISHED(TvgProbeChild) {}

void RegisterProbeClasses() {
  vgInitSceneUnit();
  RegisterClass<TPaintProbe, TProbeAnimation, TProbeEffect, TvgProbeButton, TvgProbeChild>();
}

TvgManualAniTimer* FreshManualTicker() {
  vgFreeAniThread();
  static TvgManualAniTimer* last = nullptr;
  vgSetAniTimerFactory([] {
    auto timer = std::make_unique<TvgManualAniTimer>();
    last = timer.get();
    return std::unique_ptr<IvgAniTimer>(std::move(timer));
  });
  vgEnsureAniThread();
  return last;
}
