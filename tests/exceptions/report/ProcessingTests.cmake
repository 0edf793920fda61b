# Processing one exception: the identifier (both configurations), and the steps with the
# report's hooks in a windows program that carries its library data (under Wine), with reports
# sent by the library's own send thread to an SMTP server on 127.0.0.1, also beside another
# module of the process that carries the library (the send plug-in, loaded by the project's host).
kbl_add_test(exceptions_report_processing_tests SOURCES ProcessingTest.cpp DEPS exceptions_report)
kbl_add_test(exceptions_report_processing_win32_tests WIN32_ONLY GUI SOURCES ProcessingWin32Test.cpp
  DEPS exceptions_report vsthost_lib WIN32_LIBS ws2_32)
if(TARGET exceptions_report_processing_win32_tests)
  target_link_options(exceptions_report_processing_win32_tests PRIVATE -mwindows)
  kbl_add_library_data(exceptions_report_processing_win32_tests
    OPTIONS ${CMAKE_CURRENT_SOURCE_DIR}/ProcessingTest.options)
  set_target_properties(exceptions_report_processing_win32_tests PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  if(TARGET sendplugin)
    add_dependencies(exceptions_report_processing_win32_tests sendplugin)
  endif()
endif()
