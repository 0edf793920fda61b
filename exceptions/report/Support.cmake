# Support of the report: system, window and text helpers, the library's support routines
# (warnings, internal-error log, windows, modules and processes), object and stack helpers and
# the report's values.
list(APPEND report_sources ESysUtils.cpp ESupport.cpp EObjectHelpers.cpp EReportValues.cpp)
list(APPEND report_win32_sources
  win32/ESupportPlatform.cpp
  win32/ESysUtils.cpp
  win32/ESupport.cpp
  win32/EObjectHelpers.cpp
  win32/EReportValues.cpp)
list(APPEND report_native_sources posix/ESupportPlatform.cpp)
list(APPEND report_win32_libs advapi32 user32 gdi32 comctl32)
