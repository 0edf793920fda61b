// Binding a form's component fields to the components its form resource made.
#pragma once

#include <string>

#include "classlib/Classes.h"
#include "classlib/SysUtils.h"

// Points `field` at the component `name` of `form`. Raises EComponentError ("<class> has no
// component <name>") when there is none of that class.
template <typename T>
void BindComponentField(TComponent* form, T*& field, const char* name) {
  field = dynamic_cast<T*>(form->FindComponent(name));
  if (field == nullptr) throw EComponentError(form->ClassInfo()->Name + " has no component " + name);
}
