# Cross-compiling for 64-bit Windows with Debian's MinGW-w64.
# The posix thread model gives the C++ library std::thread and std::mutex; its
# runtime (libgcc, libstdc++, winpthread) is linked statically, so the module
# and the test programs need no MinGW DLL on a Windows server.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QUILLHARBOR_MINGW_TRIPLE x86_64-w64-mingw32)
find_program(CMAKE_C_COMPILER NAMES ${QUILLHARBOR_MINGW_TRIPLE}-gcc-posix ${QUILLHARBOR_MINGW_TRIPLE}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${QUILLHARBOR_MINGW_TRIPLE}-g++-posix ${QUILLHARBOR_MINGW_TRIPLE}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${QUILLHARBOR_MINGW_TRIPLE}-windres REQUIRED)

set(CMAKE_FIND_ROOT_PATH /usr/${QUILLHARBOR_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(quillharbor_static_runtime "-static -static-libgcc -static-libstdc++")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${quillharbor_static_runtime}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${quillharbor_static_runtime}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${quillharbor_static_runtime}")

# Test programs run under Wine; ctest prefixes every command with it.
if(NOT DEFINED QUILLHARBOR_WINE)
  find_program(QUILLHARBOR_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
endif()
if(QUILLHARBOR_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QUILLHARBOR_WINE})
endif()
