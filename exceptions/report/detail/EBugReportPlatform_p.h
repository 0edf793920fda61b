// Platform half of the report builder: the head's system values and the thread facts of the
// block captions (win32/ and posix/).
#pragma once

#include <cstdint>

struct TEmberReportHeadValues;

namespace ember_report_detail {

// Fills the values only the system knows (application and module versions, user, active window,
// computer, operating system, network) and whether active controls are hidden.
void AddSystemHeadValues(TEmberReportHeadValues& values);
// The priority of a thread from its handle (0: opened by id); 0 when unknown.
int32_t ThreadPriority(uint32_t handle, uint32_t threadID);
// The id of the process's main thread; 0 when unknown.
uint32_t MainThreadID();

}  // namespace ember_report_detail
