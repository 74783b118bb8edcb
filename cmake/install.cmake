# Installation into the CUPS directories: the one list of installed files, which the Debian
# package (debian/) takes whole. The filters go where the installed scheduler looks for them
# (cups-config --serverbin), an absolute path whatever the prefix; the sample PPD goes to
# <datadir>/ppd/zorv, a directory that the scheduler's driver index reads for /usr and
# /usr/local alike (it lists the PPD as lsb/usr/zorv/... or lsb/local/zorv/...).

find_program(CUPS_CONFIG cups-config)
set(_zorv_serverbin /usr/lib/cups)
if(CUPS_CONFIG)
  execute_process(COMMAND ${CUPS_CONFIG} --serverbin OUTPUT_VARIABLE _zorv_serverbin
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
endif()
set(ZORV_FILTER_DIR "${_zorv_serverbin}/filter" CACHE PATH
    "Directory of the CUPS filters (the scheduler's ServerBin/filter)")
set(ZORV_PPD_INSTALL_DIR "${CMAKE_INSTALL_DATADIR}/ppd/zorv" CACHE PATH
    "Directory of the sample PPD, under the install prefix (a driver directory of the scheduler)")

# The scheduler refuses a filter that is not owned by root or that others may write: 0755.
set(_zorv_program_mode OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
    WORLD_READ WORLD_EXECUTE)
install(TARGETS zorvautoconf zorvpreload
        RUNTIME DESTINATION ${ZORV_FILTER_DIR} PERMISSIONS ${_zorv_program_mode}
        COMPONENT filters)
# The query tool is for administrators: beside the system's other printing tools.
install(TARGETS zorvquery RUNTIME DESTINATION ${CMAKE_INSTALL_SBINDIR}
        PERMISSIONS ${_zorv_program_mode} COMPONENT filters)

# The Printer Application is a server for administrators: beside the query tool. Its own
# component, the second Debian package.
install(TARGETS zorv-printer-app RUNTIME DESTINATION ${CMAKE_INSTALL_SBINDIR}
        PERMISSIONS ${_zorv_program_mode} COMPONENT app)

# Manual pages, compressed as Debian wants them when gzip is there.
set(_zorv_man_pages docs/zorvautoconf.8 docs/zorvpreload.8 docs/zorvquery.8 docs/zorv-lcf.5
    docs/zorv-printer-app.8)
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
  set(component filters)
  if(name STREQUAL "zorv-printer-app.8")
    set(component app)
  endif()
  install(FILES ${out} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section} COMPONENT ${component})
endforeach()
if(_zorv_man_outputs)
  add_custom_target(zorv_man_pages ALL DEPENDS ${_zorv_man_outputs})
endif()

# systemd-tmpfiles makes the filter's output directory, owned by the filter user, before any
# local user can make it first; the package's installation runs it at once.
install(FILES cmake/printer-driver-zorv.tmpfiles DESTINATION lib/tmpfiles.d
        RENAME printer-driver-zorv.conf COMPONENT filters)

install(FILES samples/zorv-sample.ppd DESTINATION ${ZORV_PPD_INSTALL_DIR}
        PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ COMPONENT filters)
install(FILES docs/ppd-attributes.md docs/snmpv3.md DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT filters)
# The guide's worked example, the demonstration agent's answers and the first draft it checks.
install(FILES docs/examples/worked-example.ppd docs/examples/worked-example-agent.conf
              docs/examples/first-draft.ppd
        DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples COMPONENT filters)
