# corvane_layer(<target> FOLDERS <folders> MAY_INCLUDE <folders>): <target> is built from the
# .cpp files of FOLDERS, and before it compiles, check_layer.cmake fails the build when one of
# their files includes a header outside FOLDERS and MAY_INCLUDE (the layers below). Headers are
# named from the repository's root ("core/settings.h"); a name without a folder is the file's own
# neighbour.
function(corvane_layer target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "FOLDERS;MAY_INCLUDE")
  set(files)
  foreach(folder ${arg_FOLDERS})
    file(GLOB_RECURSE found CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${folder}/*.h
         ${PROJECT_SOURCE_DIR}/${folder}/*.cpp)
    list(APPEND files ${found})
  endforeach()
  set(stamp ${CMAKE_CURRENT_BINARY_DIR}/${target}.layer)
  string(REPLACE ";" "," folders "${arg_FOLDERS}")
  list(APPEND arg_FOLDERS ${arg_MAY_INCLUDE})
  string(REPLACE ";" "," allowed "${arg_FOLDERS}")
  add_custom_command(OUTPUT ${stamp}
    COMMAND ${CMAKE_COMMAND} -DROOT=${PROJECT_SOURCE_DIR} -DFOLDERS=${folders}
            -DALLOWED=${allowed} -DSTAMP=${stamp} -P ${PROJECT_SOURCE_DIR}/cmake/check_layer.cmake
    DEPENDS ${files} ${PROJECT_SOURCE_DIR}/cmake/check_layer.cmake
    COMMENT "Checking the includes of ${target}" VERBATIM)
  add_custom_target(${target}_layer DEPENDS ${stamp})
  add_dependencies(${target} ${target}_layer)
endfunction()
