# Hardening: fault injection through the built programs, and the sanitizer settings that the
# programs of an ENABLE_SANITIZERS build carry.

# Preloaded into the programs by the fault-injection test to time its faults exactly.
add_library(zorv_fault_shim SHARED fault_shim.cpp)
target_link_libraries(zorv_fault_shim PRIVATE ${CMAKE_DL_LIBS} zorv_warnings)

zorv_test(fault_injection_test SOURCES fault_injection_test.cpp
  LABELS integration LOCK TIMEOUT 600)
target_compile_definitions(fault_injection_test PRIVATE
  FAULT_SHIM_PATH="$<TARGET_FILE:zorv_fault_shim>")
find_package(Threads REQUIRED)
target_link_libraries(fault_injection_test PRIVATE Threads::Threads)
add_dependencies(fault_injection_test zorvautoconf zorvpreload zorv_fault_shim)

# A filter started by a test or by the scheduler does not inherit the sanitizer options of the
# test run, so the sanitizer build gives the programs their own: stop at the first report and
# write it to build-dir/sanitizer-logs, where CI looks for reports that no test noticed.
if(ENABLE_SANITIZERS)
  set(ZORV_SANITIZER_LOG_DIR ${CMAKE_BINARY_DIR}/sanitizer-logs)
  file(MAKE_DIRECTORY ${ZORV_SANITIZER_LOG_DIR})
  foreach(program zorvpreload zorvautoconf)
    target_sources(${program} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/sanitizer_options.cpp)
    target_compile_definitions(${program} PRIVATE
      ZORV_SANITIZER_LOG_DIR="${ZORV_SANITIZER_LOG_DIR}")
  endforeach()
endif()
# The PPD texts of the SNMP tests come with helpers on the CUPS PPD interface (deprecated in
# the CUPS 2.4 headers).
target_compile_options(fault_injection_test PRIVATE -Wno-deprecated-declarations)
