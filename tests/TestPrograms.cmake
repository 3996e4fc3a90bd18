# Every tests/<folder>/*_test.cpp is one test program; the other .cpp files of the folder are
# that folder's test helpers and go into each of its programs.
function(orv_folder_test_sources folder)
  file(GLOB tests CONFIGURE_DEPENDS ${folder}/*_test.cpp)
  file(GLOB helpers CONFIGURE_DEPENDS ${folder}/*.cpp)
  list(FILTER helpers EXCLUDE REGEX "_test\\.cpp$")
  set(folder_tests ${tests} PARENT_SCOPE)
  set(folder_helpers ${helpers} PARENT_SCOPE)
endfunction()

# The program <folder>_<name> of one test source; its target name comes back in test_target.
function(orv_test_program folder test_source helpers)
  get_filename_component(folder_name ${folder} NAME)
  get_filename_component(test_name ${test_source} NAME_WE)
  set(target ${folder_name}_${test_name})
  add_executable(${target} ${test_source} ${helpers})
  target_include_directories(${target} PRIVATE ${folder})
  target_link_libraries(${target} PRIVATE orv_test_support ${ARGN} GTest::gmock GTest::gtest_main)
  set(test_target ${target} PARENT_SCOPE)
endfunction()
