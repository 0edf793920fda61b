# Processing one exception and the hooks of the report's user side (dialogs, web page, send).
list(APPEND report_sources EReportOutput.cpp EExceptionProcessing.cpp)
list(APPEND report_win32_sources win32/EProcessingPlatform.cpp)
list(APPEND report_native_sources posix/EProcessingPlatform.cpp)
