# Settings reader, SNMP GET and value text, the SNMP option query, and the network path against
# a private snmpd (and a private cupsd for the whole filter).
zorv_test(settings_test SOURCES settings_test.cpp LIBS zorvsettings)
zorv_test(snmp_get_test SOURCES snmp_get_test.cpp LIBS autoconf_core)
zorv_test(snmp_query_test SOURCES snmp_query_test.cpp LIBS autoconf_core LOCK)
set_source_files_properties(snmp_query_test.cpp PROPERTIES COMPILE_OPTIONS -Wno-deprecated-declarations)
zorv_test(snmp_integration_test SOURCES snmp_integration_test.cpp LIBS autoconf_core
  LABELS integration LOCK TIMEOUT 300)
add_dependencies(snmp_integration_test zorvautoconf)
set_source_files_properties(snmp_integration_test.cpp PROPERTIES COMPILE_OPTIONS -Wno-deprecated-declarations)
zorv_test(snmp_filter_test SOURCES snmp_filter_test.cpp LIBS ${CUPS_LIBRARY}
  LABELS integration LOCK TIMEOUT 300)
add_dependencies(snmp_filter_test zorvautoconf)
set_source_files_properties(snmp_filter_test.cpp PROPERTIES COMPILE_OPTIONS -Wno-deprecated-declarations)
# The query tool run as a program, against a private snmpd.
zorv_test(query_program_test SOURCES query_program_test.cpp LABELS integration LOCK TIMEOUT 300)
add_dependencies(query_program_test zorvquery)
