// Choosing the exception filter of the options that applies to an exception, and the action
// events raised around the exception dialog.
#pragma once

#include <cstdint>

class TEmberModuleOptions;

// The index of the first active filter of `options` that matches the exception, or -1. A
// filter matches the library's safecall wrapper (TActiveXException) when its class name equals
// one of the class names the wrapper carries (exactly); any other exception when its
// ExceptionType allows the case (0 always, 1 only `handled`, 2 only not `handled`; other values
// never) and the exception's class or one of its ancestors has the filter's class name (compared
// by name, so that classes of other modules match). An object that is not a valid object
// matches nothing.
int32_t FindExceptionFilter(const TEmberModuleOptions& options, const void* exceptionObject, bool handled);

// The action event with action 0 (before the dialog) and 1 (after it), the processing's
// success flag as the execute flag, which a handler may change.
void NotifyBeforeDialog(bool& success);
void NotifyAfterDialog(bool& success);
