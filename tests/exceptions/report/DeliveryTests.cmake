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
