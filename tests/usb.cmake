# USB option query. The tests link a double of libusb 0.1 in place of the library (autoconf_core
# does not link it), and the program test preloads the same double into the shipped filter.
add_library(fake_usb STATIC fake_usb/fake_usb.cpp fake_usb/scenario_file.cpp)
target_include_directories(fake_usb PUBLIC ${CMAKE_CURRENT_SOURCE_DIR} ${USB_INCLUDE_DIR})
target_link_libraries(fake_usb PRIVATE zorv_warnings)

# The tests use the CUPS PPD interface, marked deprecated in the CUPS 2.4 headers.
zorv_test(usb_query_test SOURCES usb_query_test.cpp usb_match_test.cpp
  LIBS autoconf_core fake_usb)
target_compile_options(usb_query_test PRIVATE -Wno-deprecated-declarations)

# The same double as a shared library, preloaded into the shipped zorvautoconf, which links
# libusb-0.1.so.4 dynamically; the scenario comes from FAKE_USB_SCENARIO.
add_library(fake_usb_preload SHARED fake_usb/fake_usb.cpp fake_usb/scenario_file.cpp
  fake_usb/preload.cpp)
target_include_directories(fake_usb_preload PRIVATE ${CMAKE_CURRENT_SOURCE_DIR} ${USB_INCLUDE_DIR})
target_link_libraries(fake_usb_preload PRIVATE zorv_warnings)

zorv_test(usb_program_test SOURCES usb_program_test.cpp LABELS integration LOCK TIMEOUT 300)
target_compile_definitions(usb_program_test PRIVATE
  FAKE_USB_PRELOAD="$<TARGET_FILE:fake_usb_preload>")
add_dependencies(usb_program_test zorvautoconf fake_usb_preload)
