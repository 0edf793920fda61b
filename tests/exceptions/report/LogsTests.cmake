# Tests of the log file, its XML form, the companion files, the zip writer and the screenshot.
kbl_add_test(exceptions_report_logs_tests SOURCES LogFileTest.cpp LogXmlTest.cpp LogManagerTest.cpp
             DEPS exceptions_report xml)
# Zip archives are read back by python's zipfile: at once natively, after the Wine run otherwise.
kbl_add_test(exceptions_report_logs_zip_tests SOURCES ZipWriterTest.cpp DEPS exceptions_report)
# The archives are minizip's: its writer is what the program's link map shows.
target_link_options(exceptions_report_logs_zip_tests PRIVATE -Wl,-Map=${CMAKE_CURRENT_BINARY_DIR}/zip_tests.link.map)
add_test(NAME exceptions_report_logs_zip_link_map
         COMMAND bash ${PROJECT_SOURCE_DIR}/tests/check_linkmap.sh ${CMAKE_CURRENT_BINARY_DIR}/zip_tests.link.map
                 libminizip.a)

# The PNG writer natively and under Wine; the capture of a real window under Wine and Xvfb.
kbl_add_test(exceptions_report_logs_png_tests SOURCES PngWriterTest.cpp DEPS exceptions_report)
kbl_add_test(exceptions_report_logs_screenshot_tests SOURCES ScreenshotTest.cpp DEPS exceptions_report
             WIN32_ONLY GUI WIN32_LIBS gdi32 user32)
if(WIN32)
  set_tests_properties(exceptions_report_logs_png_tests exceptions_report_logs_screenshot_tests
                       PROPERTIES FIXTURES_SETUP report_logs_artifacts)
endif()

# Python checks the files the programs above left, once they have run.
if(WIN32)
  set_tests_properties(exceptions_report_logs_zip_tests PROPERTIES FIXTURES_SETUP report_logs_artifacts)
  add_test(NAME exceptions_report_logs_artifacts_check
           COMMAND python3 ${CMAKE_CURRENT_SOURCE_DIR}/check_artifacts.py
                   ${CMAKE_CURRENT_BINARY_DIR}/report-logs-artifacts)
  set_tests_properties(exceptions_report_logs_artifacts_check PROPERTIES
                       FIXTURES_REQUIRED report_logs_artifacts)
endif()
