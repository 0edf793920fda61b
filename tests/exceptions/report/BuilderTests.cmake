# The report text builder, the filters and the log writer's flags over hand-built records (both
# configurations); under Wine one whole report of a real exception with real modules and stack.
kbl_add_test(exceptions_report_builder_tests SOURCES BuilderTest.cpp DEPS exceptions_report)
kbl_add_test(exceptions_report_builder_win32_tests SOURCES BuilderWin32Test.cpp DEPS exceptions_report WIN32_ONLY)
