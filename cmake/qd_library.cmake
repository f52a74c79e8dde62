# qd_library(NAME [SOURCES file...] [HEADERS file...] [PUBLIC_DEPENDS target...]
#            [DEPENDS target...] [SYSTEM])
#
# One library per subsystem, so that the direction of the dependencies is a
# fact of the build rather than a convention:
#
# - Its HEADERS are the only files of its folder that other code can include,
#   as "<folder>/<header>" (src/codec/codec.h is "codec/codec.h"), and only
#   code that links the library sees them: each library publishes its headers
#   in an include root of its own in the build tree. A library's own sources
#   include its private headers by their plain names.
# - DEPENDS are the libraries its sources use: linked privately, so that code
#   using this library does not see their headers. PUBLIC_DEPENDS are those
#   its public headers include, which every user of it must see too. So a
#   library sees exactly the headers of the libraries it names, and those
#   their public headers bring: including any other fails to compile.
# - A library that is not SYSTEM is portable: it may include standard C++
#   headers only (no "<name.h>" header of an operating system or of anyone
#   else, nor such a header in quotes), and no file outside its own folder
#   by a relative path; the build checks this before it compiles the
#   library. Only the platform library is SYSTEM, and only it links the
#   operating system's libraries.
#
# Without SOURCES the library is header-only, and has no DEPENDS.
function(qd_library name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "SYSTEM" "" "SOURCES;HEADERS;DEPENDS;PUBLIC_DEPENDS")
  file(RELATIVE_PATH folder ${PROJECT_SOURCE_DIR}/src ${CMAKE_CURRENT_SOURCE_DIR})

  # The include root: a link to each public header, made anew at every configure.
  set(root ${PROJECT_BINARY_DIR}/include/${name})
  file(REMOVE_RECURSE ${root})
  foreach(header ${arg_HEADERS})
    set(link ${root}/${folder}/${header})
    get_filename_component(directory ${link} DIRECTORY)
    file(MAKE_DIRECTORY ${directory})
    file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR}/${header} ${link} SYMBOLIC)
  endforeach()

  if(arg_SOURCES)
    add_library(${name} STATIC ${arg_SOURCES} ${arg_HEADERS})
    target_include_directories(${name} PUBLIC ${root})
    target_link_libraries(${name} PUBLIC qd_options ${arg_PUBLIC_DEPENDS} PRIVATE ${arg_DEPENDS})
  else()
    if(arg_DEPENDS)
      message(FATAL_ERROR "${name}: a header-only library has no private DEPENDS")
    endif()
    add_library(${name} INTERFACE ${arg_HEADERS})
    target_include_directories(${name} INTERFACE ${root})
    target_link_libraries(${name} INTERFACE qd_options ${arg_PUBLIC_DEPENDS})
  endif()

  if(NOT arg_SYSTEM)
    set(files ${arg_SOURCES} ${arg_HEADERS})
    list(TRANSFORM files PREPEND ${CMAKE_CURRENT_SOURCE_DIR}/)
    set(stamp ${CMAKE_CURRENT_BINARY_DIR}/${name}.portable)
    add_custom_command(OUTPUT ${stamp}
      COMMAND ${CMAKE_COMMAND} -DLIBRARY=${name} "-DFILES=${files}" -DFOLDER=${CMAKE_CURRENT_SOURCE_DIR}
              -P ${PROJECT_SOURCE_DIR}/cmake/check_portable.cmake
      COMMAND ${CMAKE_COMMAND} -E touch ${stamp}
      DEPENDS ${files} ${PROJECT_SOURCE_DIR}/cmake/check_portable.cmake
      COMMENT "Checking that ${name} includes no operating-system header"
      VERBATIM)
    add_custom_target(${name}_portable DEPENDS ${stamp})
    add_dependencies(${name} ${name}_portable)
  endif()
endfunction()
