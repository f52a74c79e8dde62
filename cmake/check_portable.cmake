# cmake -DLIBRARY=name -DFILES="a;b;..." -DFOLDER=dir -P check_portable.cmake
#
# Fails when one of FILES, the files of a portable library in FOLDER:
# - includes a header in angle brackets that ends in ".h": portable code
#   includes standard C++ headers only, which have no extension; every header
#   of an operating system (and every C header) has one;
# - includes in quotes a header that is neither a file of FOLDER nor a
#   project header named by its library's folder ("codec/codec.h"): an
#   operating-system header written in quotes ("unistd.h") is no exception;
# - includes anything by a path that climbs out of FOLDER ("../text/text.h"),
#   which would pass by the libraries' include roots.
foreach(file ${FILES})
  file(STRINGS ${file} lines REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"]")
  foreach(line ${lines})
    string(STRIP "${line}" line)
    set(refused "")
    if(line MATCHES "<[^>]*\\.h>")
      set(refused "an operating-system or C header")
    elseif(line MATCHES "\"([^\"]*)\"")
      set(header "${CMAKE_MATCH_1}")
      if(header MATCHES "(^|/)\\.\\.(/|$)")
        set(refused "a header outside its folder, by a relative path")
      elseif(NOT header MATCHES "/" AND NOT EXISTS ${FOLDER}/${header})
        set(refused "a header that is neither its own nor a library's")
      elseif(header MATCHES "/" AND NOT EXISTS ${FOLDER}/${header}
             AND NOT EXISTS ${FOLDER}/../${header})
        set(refused "a header that is neither its own nor a library's")
      endif()
    endif()
    if(refused)
      message(SEND_ERROR "${file}: ${LIBRARY} is portable code and may not ${line} (${refused}); "
                         "operating-system calls belong in src/platform/")
    endif()
  endforeach()
endforeach()
