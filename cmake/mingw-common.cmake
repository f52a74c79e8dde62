# Shared part of both mingw-w64 toolchain files.
# Debian ships a "-win32" and a "-posix" flavour of each compiler; the win32 one
# needs no threading DLL, so a static build imports only the system's own DLLs.
foreach(flavour -win32 "")
  find_program(QDPACK_MINGW_CXX ${QDPACK_MINGW_PREFIX}-g++${flavour})
  find_program(QDPACK_MINGW_CC ${QDPACK_MINGW_PREFIX}-gcc${flavour})
endforeach()
set(CMAKE_CXX_COMPILER ${QDPACK_MINGW_CXX})
set(CMAKE_C_COMPILER ${QDPACK_MINGW_CC})
set(CMAKE_RC_COMPILER ${QDPACK_MINGW_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${QDPACK_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++ -s")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
