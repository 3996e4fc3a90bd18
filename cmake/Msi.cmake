# The MSI installs the same files, staged by the install rules above, under Program Files and
# puts that folder on the system PATH; wixl (Debian's wixl, of msitools) builds it.
find_program(ORV_WIXL wixl)
find_program(ORV_WIXL_HEAT wixl-heat)
find_program(ORV_MSIBUILD msibuild)
if(ORV_WIXL AND ORV_WIXL_HEAT AND ORV_MSIBUILD)
  set(ORV_MSI ${CMAKE_BINARY_DIR}/${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-win64.msi)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/OrvFlashPuc.wxs.in ${CMAKE_BINARY_DIR}/msi/OrvFlashPuc.wxs
    @ONLY)
  add_custom_target(msi
    COMMAND ${CMAKE_COMMAND} -DBINARY_DIR=${CMAKE_BINARY_DIR} -DMSI=${ORV_MSI}
      -DWIXL=${ORV_WIXL} -DWIXL_HEAT=${ORV_WIXL_HEAT} -DMSIBUILD=${ORV_MSIBUILD}
      -P ${CMAKE_CURRENT_LIST_DIR}/BuildMsi.cmake
    COMMENT "Building ${ORV_MSI}" VERBATIM)
  add_dependencies(msi OrvFlashPuc OrvCanSim OrvUpdate OrvBusLog)
endif()
