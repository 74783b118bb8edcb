# Installation into the CUPS directories and the Debian package.
# The filters go where the installed scheduler looks for them (cups-config --serverbin), the
# sample PPD where its driver index finds it; both are absolute paths whatever the prefix.

find_program(CUPS_CONFIG cups-config)
set(_zorv_serverbin /usr/lib/cups)
set(_zorv_datadir /usr/share/cups)
if(CUPS_CONFIG)
  execute_process(COMMAND ${CUPS_CONFIG} --serverbin OUTPUT_VARIABLE _zorv_serverbin
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
  execute_process(COMMAND ${CUPS_CONFIG} --datadir OUTPUT_VARIABLE _zorv_datadir
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
endif()
set(ZORV_FILTER_DIR "${_zorv_serverbin}/filter" CACHE PATH
    "Directory of the CUPS filters (the scheduler's ServerBin/filter)")
set(ZORV_PPD_DIR "${_zorv_datadir}/model/zorv" CACHE PATH
    "Directory of the sample PPD (a driver directory of the scheduler)")

# The scheduler refuses a filter that is not owned by root or that others may write: 0755.
set(_zorv_program_mode OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
    WORLD_READ WORLD_EXECUTE)
install(TARGETS zorvautoconf zorvpreload
        RUNTIME DESTINATION ${ZORV_FILTER_DIR} PERMISSIONS ${_zorv_program_mode}
        COMPONENT filters)
# The query tool is for administrators: beside the system's other printing tools.
install(TARGETS zorvquery RUNTIME DESTINATION ${CMAKE_INSTALL_SBINDIR}
        PERMISSIONS ${_zorv_program_mode} COMPONENT filters)

# Manual pages, compressed as Debian wants them when gzip is there.
set(_zorv_man_pages docs/zorvautoconf.8 docs/zorvpreload.8 docs/zorvquery.8 docs/zorv-lcf.5)
find_program(GZIP_PROGRAM gzip)
set(_zorv_man_outputs)
foreach(page ${_zorv_man_pages})
  get_filename_component(name ${page} NAME)
  string(REGEX REPLACE ".*\\.([0-9])$" "\\1" section ${name})
  if(GZIP_PROGRAM)
    set(out ${CMAKE_BINARY_DIR}/man/${name}.gz)
    add_custom_command(OUTPUT ${out}
                       COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
                       COMMAND ${GZIP_PROGRAM} -9nc ${CMAKE_SOURCE_DIR}/${page} > ${out}
                       DEPENDS ${CMAKE_SOURCE_DIR}/${page} VERBATIM)
    list(APPEND _zorv_man_outputs ${out})
  else()
    set(out ${CMAKE_SOURCE_DIR}/${page})
  endif()
  install(FILES ${out} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section} COMPONENT filters)
endforeach()
if(_zorv_man_outputs)
  add_custom_target(zorv_man_pages ALL DEPENDS ${_zorv_man_outputs})
endif()

install(FILES samples/zorv-sample.ppd DESTINATION ${ZORV_PPD_DIR}
        PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ COMPONENT filters)
install(FILES docs/ppd-attributes.md DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT filters)
# The guide's worked example, the demonstration agent's answers and the first draft it checks.
install(FILES docs/examples/worked-example.ppd docs/examples/worked-example-agent.conf
              docs/examples/first-draft.ppd
        DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples COMPONENT filters)

# Debian package: cpack -G DEB in the build directory. The library dependencies are worked
# out from the programs by dpkg-shlibdeps.
set(CPACK_PACKAGE_NAME zorv-filters)
set(CPACK_PACKAGE_VENDOR "Zorv")
set(CPACK_PACKAGE_CONTACT "Zorv printer drivers <drivers@zorv.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "CUPS filters: printer option auto-configuration and colour-profile preload")
set(CPACK_PACKAGE_DESCRIPTION
    "zorvautoconf asks a network printer (SNMP) or a USB printer (endpoint 0 control request)\n\
which installable options it has and writes the queue's PPD with those defaults to\n\
/var/tmp/autoconf. zorvpreload puts the queue's colour profile (HD data) in front of\n\
each job. Both pass the job through unchanged.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "cups-daemon")
set(CPACK_GENERATOR DEB)
include(CPack)
