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
set(windows_tests protocol/download_test protocol/requests_test standins startup
  transport/BootCommandExecutor_test
  transport/E2CAdapter_threads_test image/HexLoader_test frontend/CommandLine_test)
foreach(entry ${windows_tests})
  string(REGEX MATCH "^[^/]+" folder_name ${entry})
  set(folder ${CMAKE_CURRENT_SOURCE_DIR}/${folder_name})
  if(entry STREQUAL folder_name)
    file(GLOB tests CONFIGURE_DEPENDS ${folder}/*_test.cpp)
    file(GLOB helpers CONFIGURE_DEPENDS ${folder}/*.cpp)
    list(FILTER helpers EXCLUDE REGEX "_test\\.cpp$")
  else()
    set(tests ${CMAKE_CURRENT_SOURCE_DIR}/${entry}.cpp)
    set(helpers "")
  endif()
  foreach(test_source ${tests})
    get_filename_component(test_name ${test_source} NAME_WE)
    set(target ${folder_name}_${test_name})
    add_executable(${target} ${test_source} ${helpers})
    target_include_directories(${target} PRIVATE ${folder})
    target_link_libraries(${target} PRIVATE orv_test_support gmock gtest_main)
    set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  endforeach()
endforeach()
