# Diagnostic log, hex dump and the shared pieces of both filters.
zorv_test(log_test SOURCES log_test.cpp hexdump_test.cpp escape_test.cpp LIBS zorvlog LOCK)
zorv_test(common_test SOURCES copy_test.cpp credentials_test.cpp LIBS zorvcommon)
zorv_test(exports_test SOURCES exports_test.cpp)
