# Colour-profile preload filter: block writer, profile lookup, and the built program.
zorv_test(hd_data_test SOURCES hd_data_test.cpp LIBS preload_core)
zorv_test(profile_test SOURCES profile_test.cpp LIBS preload_core)
zorv_test(preload_program_test SOURCES preload_program_test.cpp preload_log_test.cpp
  LIBS preload_core LABELS integration LOCK TIMEOUT 300)
add_dependencies(preload_program_test zorvpreload)
