# Header-only libraries taken from the build machine's /usr/include. The MinGW build must not
# search that folder itself (its C library headers would shadow MinGW's), so each library gets
# a folder of its own holding only a link to its headers: target orv_NAME.
function(orv_header_only name header_dir)
  find_path(${name}_ROOT ${header_dir} PATHS /usr/include NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH
    REQUIRED)
  set(dir ${CMAKE_BINARY_DIR}/header-only/${name})
  file(MAKE_DIRECTORY ${dir})
  file(CREATE_LINK ${${name}_ROOT}/${header_dir} ${dir}/${header_dir} SYMBOLIC)
  add_library(orv_${name} INTERFACE)
  target_include_directories(orv_${name} SYSTEM INTERFACE ${dir})
endfunction()
