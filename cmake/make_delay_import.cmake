# cmake -DNM=... -DDLLTOOL=... -DIMPORT_LIBRARY=libuser32.a -DDLL=USER32.dll
#       -DDEF=user32.def -DOUTPUT=libuser32_delay.a [-DDECORATED=ON] -P make_delay_import.cmake
#
# Makes a delay-import library for DLL from the toolchain's import library:
# every function it exports, resolved on its first call instead of when the
# program starts. DECORATED: 32-bit names carry a leading underscore and an
# "@N" suffix; the import is by the plain name.
execute_process(COMMAND ${NM} ${IMPORT_LIBRARY} OUTPUT_VARIABLE symbols COMMAND_ERROR_IS_FATAL ANY)
string(REGEX MATCHALL "[0-9a-f]+ T [^\n]+" definitions "${symbols}")
set(names)
foreach(definition ${definitions})
  string(REGEX REPLACE "^[0-9a-f]+ T " "" name "${definition}")
  if(name MATCHES "^\\.")
    continue()
  endif()
  if(DECORATED)
    string(REGEX REPLACE "^_" "" name "${name}")
  endif()
  list(APPEND names "${name}")
endforeach()
list(REMOVE_DUPLICATES names)
list(SORT names)
list(JOIN names "\n  " exports)
file(WRITE ${DEF} "EXPORTS\n  ${exports}\n")
set(kill)
if(DECORATED)
  set(kill --kill-at)
endif()
execute_process(COMMAND ${DLLTOOL} ${kill} --input-def ${DEF} --dllname ${DLL} --output-delaylib ${OUTPUT}
                COMMAND_ERROR_IS_FATAL ANY)
