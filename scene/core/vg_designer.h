// What the scene's design mode shares with a design environment: the designer hook (present only
// inside one), the design menu it offers on a right click, and the internal clipboard of copied
// objects.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "classlib/Classes.h"

class TvgObject;
class TvgResources;

// The design environment's side: told of scenes, selections and modifications, asked for
// component names, event handlers and to open styles for editing. Called on the GUI thread.
class IvgDesigner {
 public:
  virtual ~IvgDesigner() = default;
  virtual void SceneCreated(TComponent* scene) = 0;
  virtual void SceneDestroyed(TComponent* scene) = 0;
  // `count` is the number of objects selected with Ctrl, -1 for a single selection.
  virtual void SelectionChanged(TComponent* scene, TvgObject* selected, int32_t count) = 0;
  // The form (the scene's owner) was modified.
  virtual void Modified(TComponent* form) = 0;
  // A component name not used yet, derived from `baseName` ("Button" gives "Button1", ...).
  virtual std::string UniqueName(const std::string& baseName) = 0;
  // Opens `style` for editing at its part named `resourceName`.
  virtual void EditStyle(TvgResources* style, const std::string& resourceName) = 0;
  // The event handler named `name` in `form` (the root component that owns the edited objects)
  // for an event of type `eventType`: the form's method of that name, created when it has none.
  // Unassigned when the environment cannot give one.
  virtual TMethodValue CreateMethod(TComponent* form, const std::string& name, const TTypeInfo* eventType) = 0;
};

// The process's designer hook; nullptr outside a design environment (always in the plug-in).
IvgDesigner* vgDesigner();
void vgSetDesigner(IvgDesigner* designer);

// One item of the design menu: a caption ("-" never occurs), a check mark, an enabled state and
// either a handler or subitems.
struct TvgDesignMenuItem {
  std::string Caption;
  bool Checked = false;
  bool Enabled = true;
  std::function<void()> OnClick;
  std::vector<TvgDesignMenuItem> Items;

  // The item at a path of captions separated by "/" ("Order/Bring to front"); nullptr for none.
  const TvgDesignMenuItem* Find(const std::string& path) const;
};

// The internal clipboard: the component text of the object copied last; empty when none.
std::string& vgDesignClipboard();
