# Windows: Lua 5.1, LuaFileSystem, Expat and zlib from the prefix that
# tools/build-windows-deps.sh fills; GoogleTest built here from its sources.
if(DEFINED ENV{XDG_CACHE_HOME})
  set(default_deps "$ENV{XDG_CACHE_HOME}/quillharbor/win64-deps")
else()
  set(default_deps "$ENV{HOME}/.cache/quillharbor/win64-deps")
endif()
set(QUILLHARBOR_WIN64_DEPS ${default_deps} CACHE PATH "Prefix built by tools/build-windows-deps.sh")
set(deps ${QUILLHARBOR_WIN64_DEPS})
if(NOT EXISTS ${deps}/.key)
  message(FATAL_ERROR "No Windows dependencies in ${deps}: run tools/build-windows-deps.sh "
                      "or set QUILLHARBOR_WIN64_DEPS")
endif()

include(${CMAKE_CURRENT_LIST_DIR}/event_messages_win32.cmake)

# <windows.h> leaves std::min and std::max alone.
add_compile_definitions(NOMINMAX)

if(NOT EXISTS ${deps}/lib/liblua51.delay.a)
  message(FATAL_ERROR "${deps} predates the delay-load library: run tools/build-windows-deps.sh")
endif()

if(NOT EXISTS ${deps}/lua/socket/core.dll)
  message(FATAL_ERROR "${deps} predates LuaSocket: run tools/build-windows-deps.sh")
endif()
# LuaSocket for scripts, installed beside the module as lua\.
set(QUILLHARBOR_LUA_MODULES ${deps}/lua)

# The DLL that the filter and Lua C modules share; copied beside every program.
# A target whose QUILLHARBOR_DELAY_LOAD_LUA property is on (the module) links
# the delay-load import library instead: lua51.dll is then loaded at the first
# Lua call, after the module has loaded it from its own directory.
add_library(qh::lua INTERFACE IMPORTED GLOBAL)
set_target_properties(qh::lua PROPERTIES
  INTERFACE_INCLUDE_DIRECTORIES ${deps}/include
  INTERFACE_COMPILE_DEFINITIONS LUA_BUILD_AS_DLL
  INTERFACE_LINK_LIBRARIES
    "$<IF:$<BOOL:$<TARGET_PROPERTY:QUILLHARBOR_DELAY_LOAD_LUA>>,${deps}/lib/liblua51.delay.a,${deps}/lib/liblua51.dll.a>")
set(QUILLHARBOR_LUA_DLL ${deps}/bin/lua51.dll)

add_library(qh::lfs STATIC IMPORTED GLOBAL)
set_target_properties(qh::lfs PROPERTIES
  IMPORTED_LOCATION ${deps}/lib/liblfs.a
  INTERFACE_INCLUDE_DIRECTORIES ${deps}/include
  INTERFACE_LINK_LIBRARIES qh::lua)

add_library(qh::expat STATIC IMPORTED GLOBAL)
set_target_properties(qh::expat PROPERTIES
  IMPORTED_LOCATION ${deps}/lib/libexpat.a
  INTERFACE_INCLUDE_DIRECTORIES ${deps}/include
  INTERFACE_COMPILE_DEFINITIONS XML_STATIC)

# zlib for the replay's .gz logs, found by find_package(ZLIB) here.
if(NOT EXISTS ${deps}/lib/libz.a)
  message(FATAL_ERROR "${deps} predates zlib: run tools/build-windows-deps.sh")
endif()
set(ZLIB_INCLUDE_DIR ${deps}/include CACHE PATH "")
set(ZLIB_LIBRARY ${deps}/lib/libz.a CACHE FILEPATH "")

# Every program and the module land in one directory, beside lua51.dll, which
# is where Windows (and Wine) looks for a program's DLLs first.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
set(CMAKE_LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
file(COPY ${deps}/bin/lua51.dll DESTINATION ${CMAKE_BINARY_DIR}/bin)

if(QUILLHARBOR_TESTS)
  # Its Win32 threading, not winpthread's.
  set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(QUILLHARBOR_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources")
  add_subdirectory(${QUILLHARBOR_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  # Its code is not held to this project's warnings.
  target_compile_options(gtest PRIVATE -Wno-error)
  target_compile_options(gtest_main PRIVATE -Wno-error)
endif()

if(QUILLHARBOR_BENCH)
  message(STATUS "No benchmarks on Windows: QUILLHARBOR_BENCH turned OFF")
  set(QUILLHARBOR_BENCH OFF CACHE BOOL "Build the benchmarks" FORCE)
endif()
