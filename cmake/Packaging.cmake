# Packages made by `cpack` in the build folder: a .deb on Linux, a ZIP for a Windows build;
# for a Windows build also an MSI, made by the target msi.
set(CPACK_PACKAGE_NAME orvflashpuc)
set(CPACK_PACKAGE_VENDOR "OrvFlashPuc developers")
set(CPACK_PACKAGE_CONTACT "OrvFlashPuc developers <orvflashpuc@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "programs controller boards on a CAN bus through their CAN boot loader")
set(CPACK_PACKAGE_DESCRIPTION
  "OrvFlashPuc downloads, verifies and inspects the programs of PUC and HT boards through a CAN \
gateway board, an Ethernet-to-CAN route or a CAN card in the PC. OrvCanSim, a simulated \
instrument, lets anyone try every command without hardware.")
set(CPACK_STRIP_FILES ON)
if(CMAKE_SYSTEM_NAME STREQUAL "Windows")
  set(CPACK_GENERATOR ZIP)
else()
  set(CPACK_GENERATOR DEB)
endif()

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS bash-completion)
include(CPack)
if(CMAKE_SYSTEM_NAME STREQUAL "Windows")
  include(${CMAKE_CURRENT_LIST_DIR}/Msi.cmake)
endif()
