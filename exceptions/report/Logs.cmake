# The log file and its forms, the companion files, the zip writer and the screenshot writer.
list(APPEND report_sources ELogFile.cpp ELogXml.cpp ELogManager.cpp)
list(APPEND report_win32_sources win32/EReportPlatform.cpp)
list(APPEND report_native_sources posix/EReportPlatform.cpp)
