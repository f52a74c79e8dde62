# QdPackBuild.cmake - One package build of qdpack_add_package (cmake -P)
#
# Takes what qdpack_add_package passes: QDPACK (the builder), SCRIPT, STUB,
# WORKING_DIRECTORY, STAGE, OUTPUT_DIRECTORY and LOCK; to sign, OSSLSIGNCODE,
# CERT and KEY, with TIMESTAMP and DESCRIPTION when given. Then:
#   1. removes the package the last build copied out, and its record;
#   2. writes the script's copy into STAGE: [In] QdFileName names STUB, and
#      [Out] OutputName puts the package in STAGE/out under its own pattern;
#   3. runs the builder on the copy in WORKING_DIRECTORY, holding the lock of
#      that folder, and keeps its log in STAGE;
#   4. signs the one package in STAGE/out into STAGE/signed, when asked;
#   5. copies the package to OUTPUT_DIRECTORY and writes its path to the
#      record, STAGE/package.txt, which is what the build target waits for.
# Any failure stops with an error that says what went wrong, and leaves no
# package of this build in OUTPUT_DIRECTORY.
cmake_minimum_required(VERSION 3.20)
include("${CMAKE_CURRENT_LIST_DIR}/QdPackScript.cmake")

set(record "${STAGE}/package.txt")
if(EXISTS "${record}")
  file(READ "${record}" previous)
  string(STRIP "${previous}" previous)
  if(NOT previous STREQUAL "")
    file(REMOVE "${previous}")
  endif()
  file(REMOVE "${record}")
endif()

# The script's copy. A script value holds up to 259 characters, and the
# builder finds its script after the last blank of its command line.
qdpack_script_read("${SCRIPT}" content error)
if(error)
  message(FATAL_ERROR "${error}")
endif()
if(NOT EXISTS "${STUB}")
  message(FATAL_ERROR "The stub ${STUB} is not there")
endif()
get_filename_component(script_name "${SCRIPT}" NAME)
set(copy "${STAGE}/${script_name}")
if(copy MATCHES " ")
  message(FATAL_ERROR "The script's copy ${copy} has a blank in its path, and qdpack takes the script "
                      "path after the last blank of its command line: build in a folder without blanks")
endif()
set(out_dir "${STAGE}/out")
qdpack_script_set("${content}" In QdFileName "${STUB}" content)
qdpack_script_value("${content}" Out OutputName pattern)
set(values "${STUB}")
if(NOT pattern STREQUAL "")  # without one, the builder's own line says so
  string(REGEX REPLACE "^.*[/\\\\]" "" pattern_name "${pattern}")
  qdpack_script_set("${content}" Out OutputName "${out_dir}/${pattern_name}" content)
  list(APPEND values "${out_dir}/${pattern_name}")
endif()
foreach(value IN LISTS values)
  string(LENGTH "${value}" length)
  if(length GREATER 259)
    message(FATAL_ERROR "The path ${value} is longer than the 259 characters a script value holds")
  endif()
  if(value MATCHES "[^ -~]")
    message(FATAL_ERROR "The path ${value} holds characters other than printable ASCII, "
                        "which a script in the code page would read as other characters")
  endif()
endforeach()
file(REMOVE_RECURSE "${out_dir}" "${STAGE}/signed" "${STAGE}/logfile.txt")
file(MAKE_DIRECTORY "${out_dir}")
file(WRITE "${copy}" "${content}")

# The build. Its log goes to the working folder, which other builds may
# share: the lock keeps them apart, and a log that was not there before is
# taken away, into STAGE.
get_filename_component(lock_dir "${LOCK}" DIRECTORY)
file(MAKE_DIRECTORY "${lock_dir}")
file(LOCK "${LOCK}" GUARD PROCESS)
set(log "${WORKING_DIRECTORY}/logfile.txt")
set(log_was_there FALSE)
if(EXISTS "${log}")
  set(log_was_there TRUE)
endif()
execute_process(COMMAND "${QDPACK}" /m "${copy}" WORKING_DIRECTORY "${WORKING_DIRECTORY}" RESULT_VARIABLE result)
if(EXISTS "${log}")
  file(COPY "${log}" DESTINATION "${STAGE}")
  if(NOT log_was_there)
    file(REMOVE "${log}")
  endif()
endif()
file(LOCK "${LOCK}" RELEASE)

set(log_text "")
if(EXISTS "${STAGE}/logfile.txt")
  file(READ "${STAGE}/logfile.txt" log_text)
  string(REPLACE "\r" "" log_text "${log_text}")
  string(STRIP "${log_text}" log_text)
endif()
if(NOT result EQUAL 0)
  message(FATAL_ERROR "qdpack could not build the package of ${SCRIPT} (exit code ${result}): ${log_text}\n"
                      "It ran in ${WORKING_DIRECTORY} on ${copy}; the log is ${STAGE}/logfile.txt.")
endif()
if(NOT log_text STREQUAL "")
  message(WARNING "qdpack built the package of ${SCRIPT} with warnings:\n${log_text}")
endif()
file(GLOB built LIST_DIRECTORIES false "${out_dir}/*")
list(LENGTH built count)
if(NOT count EQUAL 1)
  message(FATAL_ERROR "qdpack reported success, but ${out_dir} holds ${count} files instead of the package")
endif()
get_filename_component(package_name "${built}" NAME)

# Signing writes a new file; the package keeps the name the builder gave it.
set(package "${built}")
if(CERT)
  set(package "${STAGE}/signed/${package_name}")
  file(MAKE_DIRECTORY "${STAGE}/signed")
  set(options)
  if(TIMESTAMP)
    list(APPEND options -t "${TIMESTAMP}")
  endif()
  if(DESCRIPTION)
    list(APPEND options -n "${DESCRIPTION}")
  endif()
  execute_process(COMMAND "${OSSLSIGNCODE}" sign -certs "${CERT}" -key "${KEY}" ${options}
                          -in "${built}" -out "${package}"
                  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "osslsigncode could not sign ${built} (exit code ${result}):\n${output}")
  endif()
endif()

file(MAKE_DIRECTORY "${OUTPUT_DIRECTORY}")
set(delivered "${OUTPUT_DIRECTORY}/${package_name}")
execute_process(COMMAND "${CMAKE_COMMAND}" -E copy "${package}" "${delivered}" RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "The package ${package} could not be copied to ${OUTPUT_DIRECTORY}")
endif()
file(WRITE "${record}" "${delivered}\n")
message(STATUS "Package of ${script_name}: ${delivered}")
