// Exception-filter matching and the action events around the dialog.
#include "EReportFilters.h"

#include <exception>
#include <string>
#include <typeinfo>
#include <vector>

#include "ELogManager.h"
#include "EObjectHelpers.h"
#include "ESysUtils.h"
#include "exceptions/EmberModuleOptions.h"

namespace {

// The class names the safecall wrapper carries: the one it was made with and the class of the
// exception it owns.
std::vector<std::string> CarriedClassNames(const TActiveXException& wrapper) {
  std::vector<std::string> names;
  if (!wrapper.InnerClassName().empty()) names.push_back(wrapper.InnerClassName());
  if (wrapper.Inner()) {
    try {
      std::rethrow_exception(wrapper.Inner());
    } catch (const std::exception& inner) {
      // The class's own name, without the namespaces C++ puts in front of it.
      std::string name = GetObjectClassName(&inner);
      size_t colons = name.rfind("::");
      if (colons != std::string::npos) name = name.substr(colons + 2);
      if (!name.empty()) names.push_back(name);
    } catch (...) {
    }
  }
  return names;
}

bool TypeAllows(uint8_t exceptionType, bool handled) {
  switch (exceptionType) {
    case 0: return true;
    case 1: return handled;
    case 2: return !handled;
    default: return false;
  }
}

}  // namespace

int32_t FindExceptionFilter(const TEmberModuleOptions& options, const void* exceptionObject, bool handled) {
  const std::type_info* cls = GetObjectClass(exceptionObject);
  if (!cls) return -1;
  bool wrapped = *cls == typeid(TActiveXException);
  std::vector<std::string> carried;
  if (wrapped) carried = CarriedClassNames(*static_cast<const TActiveXException*>(exceptionObject));
  const TEmberExceptionsFilters& filters = options.ExceptionsFilters();
  for (int32_t i = 0; i < filters.Count(); ++i) {
    const TEmberExceptionFilter& filter = filters.GetItem(i);
    if (!filter.Active) continue;
    if (wrapped) {
      for (const std::string& name : carried)
        if (name == filter.ExceptionClassName) return i;
    } else if (TypeAllows(filter.ExceptionType, handled) && InheritsFromClassName(cls, filter.ExceptionClassName)) {
      return i;
    }
  }
  return -1;
}

void NotifyBeforeDialog(bool& success) { RaiseReportAction(0, success); }
void NotifyAfterDialog(bool& success) { RaiseReportAction(1, success); }
