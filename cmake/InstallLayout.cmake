# Where an installation puts things. The card libraries are ours alone, so they go to a private
# folder that the dynamic linker does not search; the tool finds them relative to itself.
include(GNUInstallDirs)
set(ORV_INSTALL_PRIVATE_LIBDIR ${CMAKE_INSTALL_LIBDIR}/orvflashpuc)
set(ORV_INSTALL_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/orvflashpuc)
file(RELATIVE_PATH ORV_PRIVATE_LIBRARY_FOLDER
  ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_PREFIX}/${ORV_INSTALL_PRIVATE_LIBDIR})
