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
  // A copy of a wrapper (an exception kept for later) matches by the names it carries too.
  bool wrapped = *cls == typeid(TActiveXException);
  std::vector<std::string> carried;
  if (wrapped) carried = CarriedClassNames(static_cast<const std::exception*>(exceptionObject));
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
