# Tests of the report's support modules: the portable texts, caches and object checks natively
# and under Wine; the system, window, module and process facts under Wine against the system's
# own answers.
kbl_add_test(exceptions_report_support_tests
             SOURCES SysUtilsTest.cpp ObjectHelpersTest.cpp SupportTest.cpp ReportValuesTest.cpp
             DEPS exceptions_report)
kbl_add_test(exceptions_report_support_win32_tests
             SOURCES SupportWin32Test.cpp
             DEPS exceptions_report WIN32_ONLY GUI WIN32_LIBS advapi32 user32 gdi32 psapi)
# The mail date with the zone set to a half-hour one (natively and under Wine, through TZ).
if(TARGET exceptions_report_support_tests)
  add_test(NAME exceptions_report_support_zone_tests
           COMMAND exceptions_report_support_tests --gtest_filter=ObjectHelpersZone.*
           WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  set_tests_properties(exceptions_report_support_zone_tests PROPERTIES TIMEOUT 300
                       ENVIRONMENT "TZ=Asia/Kolkata;KBL_ZONE_MINUTES=330")
endif()
