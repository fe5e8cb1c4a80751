# Lua 5.1, LuaFileSystem and Expat as imported targets qh::lua, qh::lfs, qh::expat.
# Linux links the distribution's shared libraries, so that Lua C modules a script
# requires share the filter's one interpreter.
if(WIN32)
  include(${CMAKE_CURRENT_LIST_DIR}/dependencies_win32.cmake)
else()
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(LUA51 REQUIRED IMPORTED_TARGET lua5.1)
  pkg_check_modules(LUA51_LFS REQUIRED IMPORTED_TARGET lua5.1-filesystem)
  pkg_check_modules(EXPAT REQUIRED IMPORTED_TARGET expat)
  add_library(qh::lua ALIAS PkgConfig::LUA51)
  add_library(qh::lfs ALIAS PkgConfig::LUA51_LFS)
  add_library(qh::expat ALIAS PkgConfig::EXPAT)
endif()

if(QUILLHARBOR_TESTS)
  if(NOT WIN32)
    find_package(GTest REQUIRED)
  endif()
  find_package(Threads REQUIRED)
endif()
if(QUILLHARBOR_BENCH)
  find_package(benchmark REQUIRED)
endif()
