# The report text builder, writing it into the log and choosing the exception filter.
list(APPEND report_sources EBugReport.cpp EReportFilters.cpp)
list(APPEND report_win32_sources win32/EBugReportPlatform.cpp)
list(APPEND report_native_sources posix/EBugReportPlatform.cpp)
