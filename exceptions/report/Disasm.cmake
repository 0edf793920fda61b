# The assembler section of the report: the disassembly around the exception address.
list(APPEND report_sources EDisasmText.cpp)
