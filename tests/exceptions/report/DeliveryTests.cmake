# Tests of report delivery: sockets, the mail-exchanger lookup, SMTP, HTTP and FTP upload, the
# tracker senders, MAPI and mailto; servers run on 127.0.0.1 inside the tests.
kbl_add_test(exceptions_report_delivery_sockets_tests SOURCES SocketsTest.cpp
             DEPS exceptions_report WIN32_LIBS ws2_32)
kbl_add_test(exceptions_report_delivery_smtp_tests SOURCES SmtpTest.cpp
             DEPS exceptions_report WIN32_LIBS ws2_32)
kbl_add_test(exceptions_report_delivery_http_tests SOURCES HttpTest.cpp
             DEPS exceptions_report WIN32_LIBS ws2_32)
kbl_add_test(exceptions_report_delivery_trackers_tests SOURCES TrackersTest.cpp
             DEPS exceptions_report WIN32_LIBS ws2_32)
kbl_add_test(exceptions_report_delivery_mail_tests SOURCES MailTest.cpp
             DEPS exceptions_report WIN32_LIBS advapi32)
# A stand-in mail client DLL (undecorated stdcall exports) and a mailto: handler probe.
if(WIN32)
  add_library(exceptions_report_delivery_fakemapi SHARED DeliveryFakeMapi.cpp)
  set_target_properties(exceptions_report_delivery_fakemapi PROPERTIES PREFIX ""
                        RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  target_link_options(exceptions_report_delivery_fakemapi PRIVATE -Wl,--kill-at)
  add_executable(exceptions_report_delivery_mailto_probe DeliveryMailtoProbe.cpp)
  set_target_properties(exceptions_report_delivery_mailto_probe PROPERTIES
                        RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  add_dependencies(exceptions_report_delivery_mail_tests exceptions_report_delivery_fakemapi
                   exceptions_report_delivery_mailto_probe)
endif()
