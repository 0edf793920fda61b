// Drives one of the engine's setters by number, as the plug-in's parameters do (switches on at
// 0.5 and above); numbers 12 and 13 reach the separate read and write rates.
#pragma once

#include "plugin/engine/T1973.h"

inline void SetEngineParameter(T1973& engine, int which, float v, float second = 0.0f) {
  switch (which) {
    case 0: engine.SetPlay(v >= 0.5f); break;
    case 1: engine.SetRecord(v >= 0.5f); break;
    case 2: engine.SetPlayStart(v); break;
    case 3: engine.SetPlayEnd(v); break;
    case 4: engine.SetRecordStart(v); break;
    case 5: engine.SetRecordEnd(v); break;
    case 6: engine.SetRate(v); break;
    case 7: engine.SetInputLevel(v); break;
    case 8: engine.SetFeedBack(v); break;
    case 9: engine.SetMix(v); break;
    case 10: engine.SetFixed(v >= 0.5f); break;
    case 11: engine.SetSlave(v >= 0.5f); break;
    case 12: engine.SetReadRate(v); break;
    default:
      engine.SetLinkRates(v >= 0.5f);
      engine.SetWriteRate(second);
      break;
  }
}
