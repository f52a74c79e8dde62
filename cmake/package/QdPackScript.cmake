# QdPackScript.cmake - Reading and setting values of a package script from CMake
#
# A package script is a private-profile file. These helpers find a value as
# the builder's own reader does: every CR and every LF ends a line, and lines
# are trimmed; a line that starts with "[" and has a "]" after it heads a
# section named by the text up to the last "]"; any other line is an entry
# "name = value" of the current section; sections and names are compared
# without regard to the case of ASCII letters; only the first section of a
# name is searched, and the first entry of a name in it counts. A value of
# two or more characters in matching " or ' quotes loses them, and a value
# that starts with "@" counts as absent. Setting a value changes that one
# line (or adds one); every other byte stays as it was.
#
# Scripts in the code page or in UTF-8 are read; a UTF-16 script is refused,
# since a CMake string cannot hold its NUL bytes.

# qdpack_script_read(<path> <content-var> <error-var>)
# Reads the script; <error-var> is empty, or says why it cannot be used.
function(qdpack_script_read path content_var error_var)
  set(${content_var} "" PARENT_SCOPE)
  if(NOT EXISTS "${path}" OR IS_DIRECTORY "${path}")
    set(${error_var} "the script ${path} is not there" PARENT_SCOPE)
    return()
  endif()
  file(READ "${path}" mark LIMIT 2 HEX)
  if(mark STREQUAL "fffe" OR mark STREQUAL "feff")
    set(${error_var} "the script ${path} is UTF-16 text, which qdpack_add_package cannot change: "
                     "save it as UTF-8 with a byte-order mark, or in the code page" PARENT_SCOPE)
    return()
  endif()
  file(READ "${path}" content)
  set(${content_var} "${content}" PARENT_SCOPE)
  set(${error_var} "" PARENT_SCOPE)
endfunction()

# _qdpack_script_find(<content> <section> <name>)
# Where the entry stands, in the caller's variables (offsets into <content>):
#   _qdpack_line_begin, _qdpack_line_end   the entry's line without its line end,
#                                          or -1 when there is no such entry;
#   _qdpack_value                          its value ("@" when it has none);
#   _qdpack_section_end                    where the first section of that name
#                                          ends, or -1 when there is none.
function(_qdpack_script_find content section name)
  string(TOLOWER "${section}" section)
  string(TOLOWER "${name}" name)
  set(line_begin -1)
  set(line_end -1)
  set(value "@")
  set(section_end -1)
  set(in_section FALSE)
  set(offset 0)
  set(rest "${content}")
  # A UTF-8 script's byte-order mark stands before its first line.
  string(ASCII 239 187 191 utf8_mark)
  string(FIND "${rest}" "${utf8_mark}" mark)
  if(mark EQUAL 0)
    set(offset 3)
    string(SUBSTRING "${rest}" 3 -1 rest)
  endif()
  string(LENGTH "${rest}" remaining)
  # One line at a time: its text, then the run of line ends after it (blank
  # lines count for nothing).
  while(remaining GREATER 0)
    string(REGEX MATCH "^[^\r\n]*" line "${rest}")
    string(REGEX MATCH "^[^\r\n]*[\r\n]*" chunk "${rest}")
    string(LENGTH "${line}" line_length)
    string(LENGTH "${chunk}" chunk_length)
    string(STRIP "${line}" text)
    if(text MATCHES "^\\[(.*)\\]")
      if(in_section)
        set(section_end ${offset})
        break()
      endif()
      string(STRIP "${CMAKE_MATCH_1}" heading)
      string(TOLOWER "${heading}" heading)
      if(heading STREQUAL section)
        set(in_section TRUE)
      endif()
    elseif(in_section AND NOT text STREQUAL "")
      string(FIND "${text}" "=" equals)
      if(equals EQUAL -1)
        set(entry_name "${text}")
        set(entry_value "@")
      else()
        string(SUBSTRING "${text}" 0 ${equals} entry_name)
        math(EXPR equals "${equals} + 1")
        string(SUBSTRING "${text}" ${equals} -1 entry_value)
        string(STRIP "${entry_value}" entry_value)
        # One test at a time: if() evaluates every MATCHES of a condition.
        if(entry_value MATCHES "^\"(.*)\"$")
          set(entry_value "${CMAKE_MATCH_1}")
        elseif(entry_value MATCHES "^'(.*)'$")
          set(entry_value "${CMAKE_MATCH_1}")
        endif()
      endif()
      string(STRIP "${entry_name}" entry_name)
      string(TOLOWER "${entry_name}" entry_name)
      if(entry_name STREQUAL name)
        set(line_begin ${offset})
        math(EXPR line_end "${offset} + ${line_length}")
        set(value "${entry_value}")
        break()
      endif()
    endif()
    math(EXPR offset "${offset} + ${chunk_length}")
    math(EXPR remaining "${remaining} - ${chunk_length}")
    string(SUBSTRING "${rest}" ${chunk_length} -1 rest)
  endwhile()
  if(in_section AND section_end EQUAL -1)
    set(section_end ${offset})
  endif()
  set(_qdpack_line_begin ${line_begin} PARENT_SCOPE)
  set(_qdpack_line_end ${line_end} PARENT_SCOPE)
  set(_qdpack_value "${value}" PARENT_SCOPE)
  set(_qdpack_section_end ${section_end} PARENT_SCOPE)
endfunction()

# qdpack_script_value(<content> <section> <name> <out-var>)
# The value, or empty when it is absent.
function(qdpack_script_value content section name out_var)
  _qdpack_script_find("${content}" "${section}" "${name}")
  if(_qdpack_value MATCHES "^@")
    set(_qdpack_value "")
  endif()
  set(${out_var} "${_qdpack_value}" PARENT_SCOPE)
endfunction()

# qdpack_script_set(<content> <section> <name> <value> <out-var>)
# <content> with the entry's line made "<name>=<value>"; an entry that is
# missing is added at the end of its section, and a missing section at the
# end of the script. New lines end with CR LF, as on Windows.
function(qdpack_script_set content section name value out_var)
  _qdpack_script_find("${content}" "${section}" "${name}")
  set(entry "${name}=${value}")
  if(_qdpack_line_begin GREATER -1)
    string(SUBSTRING "${content}" 0 ${_qdpack_line_begin} before)
    string(SUBSTRING "${content}" ${_qdpack_line_end} -1 after)
    set(${out_var} "${before}${entry}${after}" PARENT_SCOPE)
    return()
  endif()
  # The new line goes where the section ends, or after everything.
  if(_qdpack_section_end GREATER -1)
    set(at ${_qdpack_section_end})
  else()
    string(LENGTH "${content}" at)
    set(entry "[${section}]\r\n${entry}")
  endif()
  string(SUBSTRING "${content}" 0 ${at} before)
  string(SUBSTRING "${content}" ${at} -1 after)
  if(NOT before STREQUAL "" AND NOT before MATCHES "[\r\n]$")
    string(APPEND before "\r\n")
  endif()
  set(${out_var} "${before}${entry}\r\n${after}" PARENT_SCOPE)
endfunction()

# qdpack_script_sources(<content> <directory> <out-var>)
# The source files the script names, as full paths from <directory> (where
# the builder runs): the [Out] VersionFile entry and the list File01, File02,
# ... up to the first absent key. A source is the text after the last comma
# of its entry, leading blanks dropped; a backslash separates folders.
function(qdpack_script_sources content directory out_var)
  qdpack_script_value("${content}" Out VersionFile version_file)
  set(entries)
  if(NOT version_file STREQUAL "")
    list(APPEND entries "${version_file}")
  endif()
  foreach(index RANGE 1 99)
    if(index LESS 10)
      set(index "0${index}")
    endif()
    qdpack_script_value("${content}" Files "File${index}" entry)
    if(entry STREQUAL "")
      break()
    endif()
    list(APPEND entries "${entry}")
  endforeach()

  set(sources)
  foreach(entry IN LISTS entries)
    if(NOT entry MATCHES ",[ \t]*([^,]+)$")
      continue()  # no comma, or nothing after it: the builder says so
    endif()
    string(REPLACE "\\" "/" source "${CMAKE_MATCH_1}")
    get_filename_component(source "${source}" ABSOLUTE BASE_DIR "${directory}")
    list(APPEND sources "${source}")
  endforeach()
  set(${out_var} "${sources}" PARENT_SCOPE)
endfunction()
