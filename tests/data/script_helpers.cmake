# Runs one helper of cmake/package/QdPackScript.cmake for the tests:
#   cmake -DHELPERS=<QdPackScript.cmake> -DSCRIPT=<ini> -DSECTION=<name> -DKEY=<name>
#         [-DVALUE=<value>] -DOUT=<file> -P script_helpers.cmake
# With VALUE, OUT receives the script with that value set; without, the value read.
include(${HELPERS})
qdpack_script_read("${SCRIPT}" content error)
if(error)
  message(FATAL_ERROR "${error}")
endif()
if(DEFINED VALUE)
  qdpack_script_set("${content}" "${SECTION}" "${KEY}" "${VALUE}" result)
else()
  qdpack_script_value("${content}" "${SECTION}" "${KEY}" result)
endif()
file(WRITE "${OUT}" "${result}")
