// What the host adapter needs of the plug-in's editor: starting the vector GUI's drawing back
// end and creating, refreshing and freeing the editor form inside the host's window.
#pragma once

class TrkPlugin;

// Starts the GUI's drawing back end; called when the first editor object is created.
void StartVectorGui();
// Stops it again when the last editor object is destroyed.
void StopVectorGui();

// The editor form, a child window of the host's window. GUI thread only.
class TPluginGui {
 public:
  // Creates the form as a child of `parentWindow` (the host's window handle), hidden.
  static TPluginGui* CreateParented(void* parentWindow);
  virtual ~TPluginGui() = default;

  // The plug-in the form shows; null while unlinked.
  TrkPlugin* plugin = nullptr;

  virtual void StartDisplayUpdates() {}
  virtual void StopDisplayUpdates() {}
  virtual void UpdateDisplay() {}
  virtual void Show() {}
  // The form's own window handle.
  virtual void* Handle() const { return nullptr; }
};
