// Platform half of the report builder outside Windows: no system values, no thread facts.
#include "detail/EBugReportPlatform_p.h"

#include "EBugReport.h"

namespace ember_report_detail {

void AddSystemHeadValues(TEmberReportHeadValues&) {}
int32_t ThreadPriority(uint32_t, uint32_t) { return 0; }
uint32_t MainThreadID() { return 0; }

}  // namespace ember_report_detail
