// The CPU an open editor costs, seen from outside as a user of the machine sees it: the
// project's host runs the plug-in with its editor open (vsthost --editor) while a loop plays or
// stands, and the CPU time of every process of this Wine prefix (the host, the Wine server,
// Wine's own services) and of the X server is read from /proc meanwhile. Windows program under
// Wine only: /proc is read through Wine's drive of the Unix root.
#pragma once

#include <string>

struct TEditorLoad {
  // Core-seconds per second; host: the host process alone (also inside wine).
  double wine = 0, x = 0, host = 0;
  double Total() const { return wine + x; }
};

struct TEditorLoadRun {
  bool ok = false;
  std::string error;  // why nothing was measured
  TEditorLoad idle, playing;
};

// Runs the host (its path and the plug-in's, Unix paths) `rounds` times idle and playing, each
// for `seconds` after a start-up of `warmUp` seconds, and averages.
TEditorLoadRun MeasureEditorLoad(const std::string& hostPath, const std::string& pluginPath, int rounds,
                                 double warmUp, double seconds);

// A Unix path as Wine's drive Z: of the Unix root shows it.
std::wstring WinePath(const std::string& unixPath);
