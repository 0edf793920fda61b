# Tests of what the user sees and what is sent: the dialogs' rules, the rich text, the web error
# page (both configurations), the sending pipeline against servers on 127.0.0.1, and under Wine
# and Xvfb the real dialogs with their resources.
kbl_add_test(exceptions_report_dialogs_tests SOURCES RichTextTest.cpp DialogsTest.cpp WebApplicationTest.cpp
             DEPS exceptions_report)
kbl_add_test(exceptions_report_send_tests SOURCES SendReportTest.cpp DEPS exceptions_report WIN32_LIBS ws2_32)
