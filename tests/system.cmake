# The whole system: installation, the real print path under a private scheduler,
# and the printer stand-in that the print-path test, the demonstration and the benchmark use.
find_package(Threads REQUIRED)
add_library(listener_support STATIC support/listener.cpp)
target_link_libraries(listener_support PUBLIC test_support Threads::Threads PRIVATE zorv_warnings)

add_executable(zorv_capture support/capture_main.cpp)
target_link_libraries(zorv_capture PRIVATE listener_support zorv_warnings)

# The scripted SNMP agent as a program, for the benchmarks.
add_executable(zorv_agent support/agent_main.cpp)
target_link_libraries(zorv_agent PRIVATE test_support Threads::Threads zorv_warnings)

# Installation into a staging directory: where the files go, their modes, the sample PPD.
add_test(NAME install_check
         COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/install_check.sh ${CMAKE_BINARY_DIR})
set_tests_properties(install_check PROPERTIES LABELS integration TIMEOUT 300)

# The real print path under a private scheduler and SNMP agent.
zorv_test(print_path_test SOURCES print_path_test.cpp LIBS listener_support ${CUPS_LIBRARY}
  LABELS integration LOCK TIMEOUT 900)
add_dependencies(print_path_test zorvautoconf zorvpreload)

# The README's demonstration, in a sandbox of its own (skipped where there is none).
add_test(NAME demo COMMAND ${CMAKE_COMMAND} -E env BUILD_DIR=${CMAKE_BINARY_DIR}
         ${CMAKE_SOURCE_DIR}/scripts/demo.sh)
set_tests_properties(demo PROPERTIES LABELS integration TIMEOUT 300 SKIP_RETURN_CODE 77)

# The USB half of the PPD authors' worked example, with the libusb double of usb.cmake.
if(TARGET fake_usb_preload)
  zorv_test(worked_example_test SOURCES worked_example_test.cpp LABELS integration LOCK
    TIMEOUT 300)
  target_compile_definitions(worked_example_test PRIVATE
    FAKE_USB_PRELOAD="$<TARGET_FILE:fake_usb_preload>")
  add_dependencies(worked_example_test zorvautoconf fake_usb_preload)
endif()
