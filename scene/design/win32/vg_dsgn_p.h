// Shared by the design-time forms: binding their fields to the components their resources made.
#pragma once

#include <string>

#include "classlib/Classes.h"
#include "classlib/SysUtils.h"

// Points `field` at the component `name` of `form`. Raises EComponentError ("<class> has no
// component <name>") when there is none of that class: a form resource that lacks a part is
// refused when the form is made.
template <typename T>
void BindFormField(TComponent* form, T*& field, const std::string& name) {
  field = dynamic_cast<T*>(form->FindComponent(name));
  if (field == nullptr) throw EComponentError(form->ClassInfo()->Name + " has no component " + name);
}
