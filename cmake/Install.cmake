# What `cmake --install` and the packages carry: the programs, our card libraries, the man
# pages (when scdoc is there to build them), the bash completion, the documents and examples.
install(TARGETS OrvFlashPuc OrvUpdate OrvCanSim OrvBusLog
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS orv_card_nican orv_card_canapi LIBRARY DESTINATION ${ORV_INSTALL_PRIVATE_LIBDIR})

find_program(SCDOC scdoc)
if(SCDOC)
  set(man_pages "")
  foreach(program OrvFlashPuc OrvUpdate OrvCanSim OrvBusLog)
    set(page ${CMAKE_BINARY_DIR}/man/${program}.1)
    add_custom_command(OUTPUT ${page}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
      COMMAND ${SCDOC} < ${CMAKE_SOURCE_DIR}/docs/man/${program}.1.scd > ${page}
      DEPENDS ${CMAKE_SOURCE_DIR}/docs/man/${program}.1.scd
      COMMENT "Building the man page ${program}(1)")
    list(APPEND man_pages ${page})
  endforeach()
  add_custom_target(man_pages ALL DEPENDS ${man_pages})
  install(FILES ${man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  message(STATUS "scdoc not found: no man pages")
endif()

foreach(program OrvFlashPuc OrvUpdate)
  install(FILES completion/${program}.bash RENAME ${program}
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions)
endforeach()
install(FILES README.md OrvCanSim/BOARDS.md DESTINATION ${ORV_INSTALL_DOCDIR})
install(DIRECTORY docs/ DESTINATION ${ORV_INSTALL_DOCDIR} PATTERN man EXCLUDE)
install(DIRECTORY examples/ DESTINATION ${ORV_INSTALL_DOCDIR}/examples)

# Wireshark loads every Lua file in its global plugin folder, whatever its own version.
install(FILES tools/wireshark/orvflashpuc.lua
  DESTINATION lib/${CMAKE_LIBRARY_ARCHITECTURE}/wireshark/plugins)
