// What the host adapter's editor object needs of the plug-in's editor: starting the vector GUI's
// drawing back end and creating, refreshing and freeing the editor form inside the host's
// window. The editor library sits above this one: it installs its operations when the module
// starts (SetEditorServices); without them the editor object opens nothing.
#pragma once

class TComponent;
class TrkPlugin;
// The editor form, defined by the editor library.
class TPluginGui;

// Every operation runs on the host's GUI thread; a form handed in is one CreateForm made.
struct TrkEditorServices {
  // Starts the GUI (its classes and drawing back end); called before the first form is made.
  // Raises what starting raises; the open then fails.
  void (*StartVectorGui)() = nullptr;
  // Stops it again, when it was started, once the last editor object is destroyed and no form
  // is left: also at the end of the last form's destruction, on the thread that frees it.
  void (*StopVectorGui)() = nullptr;
  // The form as a hidden child of `parentWindow` (the host's window handle). Raises what
  // creating the form raises.
  TPluginGui* (*CreateForm)(void* parentWindow) = nullptr;
  // Links the form to the plug-in it shows (nullptr unlinks it).
  void (*SetPlugin)(TPluginGui* form, TrkPlugin* plugin) = nullptr;
  void (*StartDisplayUpdates)(TPluginGui* form) = nullptr;
  void (*StopDisplayUpdates)(TPluginGui* form) = nullptr;
  // Refreshes the form from the plug-in and its engine.
  void (*UpdateDisplay)(TPluginGui* form) = nullptr;
  void (*Show)(TPluginGui* form) = nullptr;
  // Takes the form out of the host's window at once and frees it now, or once code of it still
  // on the stack (a menu loop the host closed the editor from) has returned.
  void (*Free)(TPluginGui* form) = nullptr;
  // The form's window handle; nullptr once the window is gone (the host destroyed its own).
  void* (*Handle)(TPluginGui* form) = nullptr;
  // The form as a component, for a free notification: the editor keeps a form it released while
  // the form's code ran until the message loop frees it. nullptr: the editor keeps none.
  TComponent* (*Component)(TPluginGui* form) = nullptr;
};

// Installs the editor's operations (the table must outlive every editor object); nullptr
// removes them. Called once at start-up, before the first plug-in is created.
void SetEditorServices(const TrkEditorServices* services);
// The installed operations, or nullptr.
const TrkEditorServices* EditorServices();
