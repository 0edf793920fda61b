# Tests of what the user sees and what is sent: the dialogs' rules, the rich text, the web error
# page (both configurations), the sending pipeline against servers on 127.0.0.1, and under Wine
# and Xvfb the real dialogs with their resources.
kbl_add_test(exceptions_report_dialogs_tests SOURCES RichTextTest.cpp DialogsTest.cpp WebApplicationTest.cpp
             DEPS exceptions_report)
kbl_add_test(exceptions_report_send_tests SOURCES SendReportTest.cpp DEPS exceptions_report WIN32_LIBS ws2_32)

# The dialogs themselves: a windows-subsystem program (the library shows no dialogs in console
# programs) with the dialog templates and bitmaps linked in.
include(${PROJECT_SOURCE_DIR}/resources/dialogs/DialogResources.cmake)
kbl_add_test(exceptions_report_dialogs_win32_tests SOURCES DialogsWin32Test.cpp DEPS exceptions_report
             WIN32_ONLY GUI WIN32_LIBS comctl32 gdi32 user32 ws2_32)
if(TARGET exceptions_report_dialogs_win32_tests)
  target_link_options(exceptions_report_dialogs_win32_tests PRIVATE -mwindows)
  kbl_add_dialog_resources(exceptions_report_dialogs_win32_tests)
endif()

# An exception intercepted in a plug-in that carries the library and its dialogs, hosted by a
# windows-subsystem program: dialog, log and mail end to end.
if(WIN32 AND TARGET exceptions_report AND TARGET vsthost_lib)
  add_library(dialogplugin SHARED DialogPlugin.cpp DialogPlugin.def)
  target_link_libraries(dialogplugin PRIVATE plugin_vst exceptions_report)
  target_include_directories(dialogplugin PRIVATE ${PROJECT_SOURCE_DIR})
  set_target_properties(dialogplugin PROPERTIES PREFIX "" RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  kbl_add_library_data(dialogplugin OPTIONS DialogPlugin.options)
  kbl_add_dialog_resources(dialogplugin)
  kbl_add_test(exceptions_report_dialog_plugin_tests WIN32_ONLY GUI SOURCES DialogPluginTest.cpp
               DEPS vsthost_lib exceptions_report WIN32_LIBS ws2_32)
  target_link_options(exceptions_report_dialog_plugin_tests PRIVATE -mwindows)
  add_dependencies(exceptions_report_dialog_plugin_tests dialogplugin)
endif()

# The same plug-in sending its reports in the background, closed and unloaded while a send to a
# slow server on 127.0.0.1 is under way.
if(WIN32 AND TARGET exceptions_report AND TARGET vsthost_lib)
  add_library(sendplugin SHARED DialogPlugin.cpp SendPlugin.def)
  target_link_libraries(sendplugin PRIVATE plugin_vst exceptions_report)
  target_include_directories(sendplugin PRIVATE ${PROJECT_SOURCE_DIR})
  set_target_properties(sendplugin PROPERTIES PREFIX "" RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  kbl_add_library_data(sendplugin OPTIONS SendPlugin.options)
  kbl_add_dialog_resources(sendplugin)
  kbl_add_test(exceptions_report_send_plugin_tests WIN32_ONLY SOURCES SendPluginTest.cpp
               DEPS vsthost_lib exceptions_report WIN32_LIBS ws2_32)
  add_dependencies(exceptions_report_send_plugin_tests sendplugin)
endif()

# An ISAPI extension DLL built on the library, called by the test as a web server calls one: its
# failed request is answered with the error page through the request's WriteClient.
if(WIN32 AND TARGET exceptions_report)
  add_library(isapiextension SHARED IsapiExtension.cpp)
  target_link_libraries(isapiextension PRIVATE exceptions_report)
  target_include_directories(isapiextension PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_options(isapiextension PRIVATE -Wl,--kill-at)
  set_target_properties(isapiextension PROPERTIES PREFIX "" RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  kbl_add_library_data(isapiextension OPTIONS IsapiExtension.options)
  kbl_add_test(exceptions_report_isapi_tests WIN32_ONLY SOURCES IsapiExtensionTest.cpp)
  add_dependencies(exceptions_report_isapi_tests isapiextension)
endif()
