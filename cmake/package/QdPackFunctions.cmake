# QdPackFunctions.cmake - qdpack_add_package: a target that builds a package
#
#   qdpack_add_package(<target> SCRIPT <ini>
#                      [STUB <exe>]
#                      [WORKING_DIRECTORY <dir>]
#                      [OUTPUT_DIRECTORY <dir>]
#                      [SIGN CERT <pem> KEY <key> [TIMESTAMP <url>] [DESCRIPTION <text>]]
#                      [DEPENDS <file or target>...]
#                      [ALL])
#
# Adds <target>, which builds the package that the script describes with the
# installed native builder (qdpack /m), and signs it when SIGN is given.
#
# Where things are:
# - The builder runs in WORKING_DIRECTORY (default: the script's folder),
#   where the script's relative source paths start.
# - It builds from a copy of the script in ${CMAKE_CURRENT_BINARY_DIR}/<target>.qdpack/,
#   so that the author's script stays as written (the builder rewrites the
#   script it reads when a source is missing). In the copy, [In] QdFileName
#   names STUB (default: the installed stub, QdPack_STUB), and [Out]
#   OutputName keeps its file-name pattern but puts the package in that
#   folder's out/; both as full paths. The packed script is this copy: an
#   installer never reads those two keys.
# - The builder's log, logfile.txt, ends up in that folder too; a log the
#   build leaves in WORKING_DIRECTORY that was not there before is moved.
# - The package, signed when SIGN is given, is copied to OUTPUT_DIRECTORY
#   (default: ${CMAKE_CURRENT_BINARY_DIR}/<target>). Its name depends on the
#   version of the first file, so it is known after the build: the file named
#   by the target property QDPACK_PACKAGE_PATH_FILE then holds its full path,
#   and the build prints it. Before each build the package the target copied
#   there the last time is removed; nothing else in that folder is touched.
#
# Relative paths: SCRIPT, STUB, CERT and KEY start from the current source
# folder, WORKING_DIRECTORY and OUTPUT_DIRECTORY from the current build folder.
#
# Dependencies: the package is built again when the script, the stub, the
# builder, the signing files or the sources the script lists change. Sources
# are known when the script names files that are there at configure time
# (the script is a configure dependency, so a changed list is read again);
# name files and targets that the build makes in DEPENDS.
#
# Signing: SIGN signs with osslsigncode (`sign -certs <pem> -key <key>`, with
# `-t <url>` for TIMESTAMP and `-n <text>` for DESCRIPTION, the name Windows
# shows). The key must not need a passphrase.
#
# Limits: the builder takes its script path after the last blank of its
# command line, so the build folder's path may hold no blank; the stub's path
# and the output path must fit the script's 259 characters.

include("${CMAKE_CURRENT_LIST_DIR}/QdPackScript.cmake")

function(qdpack_add_package target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "ALL;SIGN"
    "SCRIPT;STUB;WORKING_DIRECTORY;OUTPUT_DIRECTORY;CERT;KEY;TIMESTAMP;DESCRIPTION" "DEPENDS")
  set(usage "qdpack_add_package(${target})")
  if(arg_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "${usage}: unknown arguments: ${arg_UNPARSED_ARGUMENTS}")
  endif()
  if(NOT TARGET QdPack::qdpack)
    message(FATAL_ERROR "${usage}: call find_package(QdPack) in this folder or one above it")
  endif()
  if(NOT arg_SCRIPT)
    message(FATAL_ERROR "${usage}: SCRIPT names no package script")
  endif()

  get_filename_component(script "${arg_SCRIPT}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
  get_filename_component(script_dir "${script}" DIRECTORY)
  if(arg_STUB)
    get_filename_component(stub "${arg_STUB}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
  elseif(QdPack_STUB)
    set(stub "${QdPack_STUB}")
  else()
    message(FATAL_ERROR "${usage}: this QdPack was installed without its stub: name one with STUB")
  endif()
  set(working_dir "${script_dir}")
  if(arg_WORKING_DIRECTORY)
    get_filename_component(working_dir "${arg_WORKING_DIRECTORY}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_BINARY_DIR}")
  endif()
  set(output_dir "${CMAKE_CURRENT_BINARY_DIR}/${target}")
  if(arg_OUTPUT_DIRECTORY)
    get_filename_component(output_dir "${arg_OUTPUT_DIRECTORY}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_BINARY_DIR}")
  endif()
  set(stage "${CMAKE_CURRENT_BINARY_DIR}/${target}.qdpack")

  # Signing: the driver signs when it is given a certificate.
  set(sign_args)
  set(sign_files)
  if(arg_SIGN)
    if(NOT arg_CERT OR NOT arg_KEY)
      message(FATAL_ERROR "${usage}: SIGN needs CERT <pem> and KEY <key>")
    endif()
    find_program(QDPACK_OSSLSIGNCODE osslsigncode)
    if(NOT QDPACK_OSSLSIGNCODE)
      message(FATAL_ERROR "${usage}: SIGN needs osslsigncode, which is not installed (Debian: osslsigncode)")
    endif()
    get_filename_component(cert "${arg_CERT}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
    get_filename_component(key "${arg_KEY}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
    set(sign_files "${cert}" "${key}")
    set(sign_args "-DOSSLSIGNCODE=${QDPACK_OSSLSIGNCODE}" "-DCERT=${cert}" "-DKEY=${key}"
                  "-DTIMESTAMP=${arg_TIMESTAMP}" "-DDESCRIPTION=${arg_DESCRIPTION}")
  elseif(arg_CERT OR arg_KEY OR arg_TIMESTAMP OR arg_DESCRIPTION)
    message(FATAL_ERROR "${usage}: CERT, KEY, TIMESTAMP and DESCRIPTION belong after SIGN")
  endif()

  # The sources the script names that are there now; the script is read again
  # whenever it changes.
  qdpack_script_read("${script}" content error)
  if(error)
    message(FATAL_ERROR "${usage}: ${error}")
  endif()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${script}")
  qdpack_script_sources("${content}" "${working_dir}" sources)
  set(present_sources)
  foreach(source IN LISTS sources)
    if(EXISTS "${source}" AND NOT IS_DIRECTORY "${source}")
      list(APPEND present_sources "${source}")
    endif()
  endforeach()

  # The builder's log is shared by every build in one working folder: the
  # driver takes a lock named after the folder.
  string(MD5 lock_name "${working_dir}")
  set(record "${stage}/package.txt")
  set(driver "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/QdPackBuild.cmake")
  add_custom_command(OUTPUT "${record}"
    COMMAND "${CMAKE_COMMAND}"
            "-DQDPACK=$<TARGET_FILE:QdPack::qdpack>"
            "-DSCRIPT=${script}"
            "-DSTUB=${stub}"
            "-DWORKING_DIRECTORY=${working_dir}"
            "-DSTAGE=${stage}"
            "-DOUTPUT_DIRECTORY=${output_dir}"
            "-DLOCK=${CMAKE_BINARY_DIR}/CMakeFiles/qdpack/${lock_name}.lock"
            ${sign_args}
            -P "${driver}"
    DEPENDS "${script}" "${stub}" "$<TARGET_FILE:QdPack::qdpack>" ${present_sources} ${sign_files}
            ${arg_DEPENDS} "${driver}" "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/QdPackScript.cmake"
    COMMENT "Building the package of ${target}"
    VERBATIM)

  set(all)
  if(arg_ALL)
    set(all ALL)
  endif()
  add_custom_target(${target} ${all} DEPENDS "${record}")
  set_target_properties(${target} PROPERTIES
    QDPACK_OUTPUT_DIRECTORY "${output_dir}"
    QDPACK_PACKAGE_PATH_FILE "${record}")
endfunction()
