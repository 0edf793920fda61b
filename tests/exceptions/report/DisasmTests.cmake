# The assembler section over synthetic code and modules (both configurations).
kbl_add_test(exceptions_report_disasm_tests
             SOURCES DisasmTest.cpp
             DEPS exceptions_report)
