# The libc++ build (the `libcxx` preset): the project compiled with clang and
# -stdlib=libc++, the C++ library the app is built with on macOS, to catch
# what builds with libstdc++ alone (missing includes, libstdc++-only
# behaviour, features the Apple library lacks).
#
# Included through CMAKE_PROJECT_TOP_LEVEL_INCLUDES, so the project's own
# CMake files need not know about it. The distribution's compiled C++
# libraries are built against libstdc++ and cannot be linked here, so:
#
# - GoogleTest is built from source (LUMO_GOOGLETEST_SOURCE_DIR: Debian's
#   `googletest` package puts it in /usr/src/googletest; Homebrew's
#   googletest is already libc++) and answers the project's find_package(GTest);
# - every target that links Qt, cpp-httplib (Debian's is a compiled library)
#   or Google Benchmark, directly or through another target, is left out of
#   the build and its tests out of CTest: the Qt views and the QSettings
#   adapter, the telemetry receiver and the tests with loopback HTTP servers.
#   The configure step lists them.
include_guard(GLOBAL)
if(APPLE)
  return()  # there every library, Homebrew's included, is built with libc++ already
endif()

# libc++'s own checks (bounds of containers and views, and the like) on.
if(CMAKE_CXX_COMPILER_VERSION VERSION_LESS 18)
  add_compile_options(-D_LIBCPP_ENABLE_ASSERTIONS=1)
else()
  add_compile_options(-D_LIBCPP_HARDENING_MODE=_LIBCPP_HARDENING_MODE_EXTENSIVE)
endif()

set(LUMO_GOOGLETEST_SOURCE_DIR "/usr/src/googletest" CACHE PATH "GoogleTest's sources, built with this build's C++ library")
if(NOT EXISTS "${LUMO_GOOGLETEST_SOURCE_DIR}/CMakeLists.txt")
  message(FATAL_ERROR "The libc++ build needs GoogleTest's sources in ${LUMO_GOOGLETEST_SOURCE_DIR} "
                      "(Debian: the googletest package; scripts/install-deps.sh installs it).")
endif()

include(FetchContent)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
FetchContent_Declare(GTest SOURCE_DIR "${LUMO_GOOGLETEST_SOURCE_DIR}" OVERRIDE_FIND_PACKAGE)

# Imported targets whose libraries were compiled against another C++ library.
set(LUMO_FOREIGN_CXX_LIBRARIES "^Qt6::;^PkgConfig::HTTPLIB$;^httplib::;^benchmark::"
    CACHE STRING "Regular expressions naming the imported targets this build cannot link")

# Whether `target` links (directly or through other targets) one of the
# foreign libraries; the answer is kept in the global property
# LUMO_FOREIGN_<target>, so that each target is looked at once.
function(_lumo_links_foreign target result)
  get_property(known GLOBAL PROPERTY "LUMO_FOREIGN_${target}" SET)
  if(known)
    get_property(answer GLOBAL PROPERTY "LUMO_FOREIGN_${target}")
    set(${result} ${answer} PARENT_SCOPE)
    return()
  endif()
  set_property(GLOBAL PROPERTY "LUMO_FOREIGN_${target}" FALSE)  # a cycle answers "no"
  foreach(pattern IN LISTS LUMO_FOREIGN_CXX_LIBRARIES)
    if(target MATCHES "${pattern}")
      set_property(GLOBAL PROPERTY "LUMO_FOREIGN_${target}" TRUE)
      set(${result} TRUE PARENT_SCOPE)
      return()
    endif()
  endforeach()
  if(NOT TARGET ${target})  # a plain library, or an imported target of another folder
    set(${result} FALSE PARENT_SCOPE)
    return()
  endif()
  get_target_property(aliased ${target} ALIASED_TARGET)
  set(links "")
  if(aliased)
    list(APPEND links ${aliased})
  else()
    get_target_property(type ${target} TYPE)
    if(NOT type STREQUAL "INTERFACE_LIBRARY")
      get_target_property(direct ${target} LINK_LIBRARIES)
      if(direct)
        list(APPEND links ${direct})
      endif()
    endif()
    get_target_property(interface ${target} INTERFACE_LINK_LIBRARIES)
    if(interface)
      list(APPEND links ${interface})
    endif()
  endif()
  # Items may sit inside generator expressions ($<LINK_ONLY:lumo_live>): every
  # word counts. Imported targets are seen only in the folder that imported
  # them, so a foreign one is recognised by its name alone.
  string(REGEX MATCHALL "[A-Za-z0-9_.+:-]+" words "${links}")
  set(answer FALSE)
  foreach(word IN LISTS words)
    if(NOT word STREQUAL target)
      _lumo_links_foreign(${word} linked)
      if(linked)
        set(answer TRUE)
        break()
      endif()
    endif()
  endforeach()
  set_property(GLOBAL PROPERTY "LUMO_FOREIGN_${target}" ${answer})
  set(${result} ${answer} PARENT_SCOPE)
endfunction()

function(_lumo_directories directory result)
  set(all ${directory})
  get_property(children DIRECTORY ${directory} PROPERTY SUBDIRECTORIES)
  foreach(child IN LISTS children)
    _lumo_directories(${child} below)
    list(APPEND all ${below})
  endforeach()
  set(${result} ${all} PARENT_SCOPE)
endfunction()

# Runs once the whole project is read: leaves out what cannot link.
function(_lumo_leave_out_foreign_targets)
  _lumo_directories(${CMAKE_SOURCE_DIR} directories)
  set(left_out "")
  foreach(directory IN LISTS directories)
    get_property(targets DIRECTORY ${directory} PROPERTY BUILDSYSTEM_TARGETS)
    foreach(target IN LISTS targets)
      _lumo_links_foreign(${target} foreign)
      if(foreign)
        set_property(TARGET ${target} PROPERTY EXCLUDE_FROM_ALL TRUE)
        list(APPEND left_out ${target})
      endif()
    endforeach()
  endforeach()
  # gtest_discover_tests() registers a CTest script per test program, named
  # "<program>[<n>]_include.cmake"; a program that is not built would show up
  # as a failing "<program>_NOT_BUILT" test.
  foreach(directory IN LISTS directories)
    get_property(scripts DIRECTORY ${directory} PROPERTY TEST_INCLUDE_FILES)
    set(kept "")
    foreach(script IN LISTS scripts)
      get_filename_component(name "${script}" NAME)
      string(REGEX REPLACE "\\[[0-9]+\\]_include\\.cmake$" "" program "${name}")
      if(NOT program IN_LIST left_out)
        list(APPEND kept "${script}")
      endif()
    endforeach()
    set_property(DIRECTORY ${directory} PROPERTY TEST_INCLUDE_FILES ${kept})
  endforeach()
  if(left_out)
    list(JOIN left_out ", " names)
    message(STATUS "libc++ build: left out (they link libraries built against another C++ library): ${names}")
  endif()
endfunction()

cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL _lumo_leave_out_foreign_targets)
