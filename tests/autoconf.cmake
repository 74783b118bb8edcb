# Auto-configuration filter: clock, configuration update, installable options and rewrite,
# and the program against a private scheduler.
zorv_test(autoconf_test SOURCES clock_test.cpp printer_config_test.cpp installable_test.cpp
  queue_defaults_test.cpp
  LIBS autoconf_core ${USB_LIBRARY})
zorv_test(autoconf_program_test SOURCES autoconf_program_test.cpp LIBS autoconf_core ${USB_LIBRARY}
  LABELS integration LOCK TIMEOUT 600)
add_dependencies(autoconf_program_test zorvautoconf)
target_compile_options(autoconf_test PRIVATE -Wno-deprecated-declarations)
