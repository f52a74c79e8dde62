# qd_delay_import(TARGET dll...): links TARGET, and every program that links
# it, with delay-import libraries for the named system DLLs ("user32"), so
# that they are loaded on their first use, after the program has kept its DLL
# searches to the system directory, rather than before its first line runs:
# a system DLL's own imports could otherwise be looked for beside the program.
function(qd_delay_import target)
  set(tools_prefix ${QDPACK_MINGW_PREFIX})
  foreach(dll ${ARGN})
    find_library(QDPACK_IMPORT_${dll} ${dll} REQUIRED)
    set(library ${CMAKE_CURRENT_BINARY_DIR}/lib${dll}_delay.a)
    set(decorated OFF)
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
      set(decorated ON)
    endif()
    add_custom_command(OUTPUT ${library}
      COMMAND ${CMAKE_COMMAND} -DNM=${tools_prefix}-nm -DDLLTOOL=${tools_prefix}-dlltool
              -DIMPORT_LIBRARY=${QDPACK_IMPORT_${dll}} -DDLL=${dll}.dll -DDEF=${CMAKE_CURRENT_BINARY_DIR}/${dll}.def
              -DOUTPUT=${library} -DDECORATED=${decorated} -P ${PROJECT_SOURCE_DIR}/cmake/make_delay_import.cmake
      DEPENDS ${PROJECT_SOURCE_DIR}/cmake/make_delay_import.cmake
      COMMENT "Making the delay-import library of ${dll}.dll"
      VERBATIM)
    add_custom_target(${target}_${dll}_delay DEPENDS ${library})
    add_dependencies(${target} ${target}_${dll}_delay)
    # Ahead of the toolchain's own import libraries, which the linker adds last.
    target_link_libraries(${target} PRIVATE ${library})
  endforeach()
  target_link_libraries(${target} PRIVATE delayimp)
endfunction()
