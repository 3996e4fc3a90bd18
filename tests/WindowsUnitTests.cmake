# The Windows flavour builds the unit tests that need no operating-system service beyond files
# and threads: the protocol, the stand-ins, the start-up registrations, the transports over
# fakes, the HEX loader and the command line. GoogleTest comes from
# its sources; scripts/test.sh runs the programs under Wine.
set(GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
foreach(gtest_target gtest gtest_main gmock gmock_main)
  target_compile_options(${gtest_target} PRIVATE -w)
endforeach()

add_library(orv_test_support STATIC support/HexWriter.cpp support/MemoryCanLink.cpp support/NodeGateway.cpp
  support/TestFiles.cpp)
target_include_directories(orv_test_support PUBLIC ${CMAKE_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(orv_test_support PUBLIC orv_frontend gtest)

# Whole folders, and single programs of folders whose other programs need the OS: the HEX
# loader reads files through the Windows CRT, the command line runs on a Windows console.
set(windows_tests protocol/Downloads_test protocol/Requests_test standins startup
  transport/BootCommandExecutor_test
  transport/E2CAdapter_threads_test image/HexLoader_test frontend/CommandLine_test)
include(TestPrograms.cmake)
foreach(entry ${windows_tests})
  string(REGEX MATCH "^[^/]+" folder_name ${entry})
  set(folder ${CMAKE_CURRENT_SOURCE_DIR}/OrvFlashPuc/${folder_name})
  if(entry STREQUAL folder_name)
    orv_folder_test_sources(${folder})
  else()
    set(folder_tests ${CMAKE_CURRENT_SOURCE_DIR}/OrvFlashPuc/${entry}.cpp)
    set(folder_helpers "")
  endif()
  foreach(test_source ${folder_tests})
    orv_test_program(${folder} ${test_source} "${folder_helpers}")
    set_target_properties(${test_target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  endforeach()
endforeach()
