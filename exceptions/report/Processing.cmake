# Processing one exception and the hooks of the report's user side (dialogs, web page, send).
list(APPEND report_sources EReportOutput.cpp)
