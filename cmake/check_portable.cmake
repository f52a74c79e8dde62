# cmake -DLIBRARY=name -DFILES="a;b;..." -P check_portable.cmake
#
# Fails when one of FILES includes a header in angle brackets that ends in
# ".h": portable code includes standard C++ headers only, which have no
# extension; every header of an operating system (and every C header) has one.
foreach(file ${FILES})
  file(STRINGS ${file} lines REGEX "^[ \t]*#[ \t]*include[ \t]*<[^>]*\\.h>")
  foreach(line ${lines})
    string(STRIP "${line}" line)
    message(SEND_ERROR "${file}: ${LIBRARY} is portable code and may not ${line}; "
                       "operating-system calls belong in src/platform/")
  endforeach()
endforeach()
