# Tests of the log file, its XML form, the companion files, the zip writer and the screenshot.
kbl_add_test(exceptions_report_logs_tests SOURCES LogFileTest.cpp LogXmlTest.cpp LogManagerTest.cpp
             DEPS exceptions_report xml)
