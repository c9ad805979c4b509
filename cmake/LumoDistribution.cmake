# What makes a build a distribution: the build `make package` makes on a Mac
# and hands to users (LUMO_DISTRIBUTION=ON). A Release build alone is not one:
# `make bench` builds Release with the development settings and must keep
# doing so.
#
# A distribution
#  - refuses to configure with the development telemetry settings (the local
#    receiver's endpoint and key), a plain-http or loopback endpoint, or an
#    empty one: every copy would otherwise send its events nowhere, or in the
#    clear;
#  - on macOS, is universal (arm64 and x86_64) when every library it links is,
#    and otherwise built for this Mac's architecture (lumo_choose_architectures,
#    called once the libraries are found); LUMO_PACKAGE_ARCHITECTURE names the
#    choice for the disk image's file name.
#
# This file is also included by a script test (cmake -P): nothing at its top
# level may need a project.

# The reason the telemetry settings cannot ship, or "" when they can.
function(lumo_telemetry_problem out endpoint key development_endpoint development_key)
  set(problem "")
  if(endpoint STREQUAL "")
    set(problem "LUMO_TELEMETRY_ENDPOINT is empty")
  elseif(endpoint STREQUAL development_endpoint)
    set(problem "LUMO_TELEMETRY_ENDPOINT is the development receiver")
  elseif(NOT endpoint MATCHES "^https://([^/?#@]+@)?([^/?#]+)")
    set(problem "LUMO_TELEMETRY_ENDPOINT \"${endpoint}\" is not an https:// URL")
  else()
    string(TOLOWER "${CMAKE_MATCH_2}" authority)
    if(authority MATCHES "^(localhost|127\\.[0-9.]+|0\\.0\\.0\\.0|\\[::1?\\])(:[0-9]*)?$")
      set(problem "LUMO_TELEMETRY_ENDPOINT \"${endpoint}\" points at the machine it runs on")
    endif()
  endif()
  if(problem STREQUAL "")
    if(key STREQUAL "")
      set(problem "LUMO_TELEMETRY_KEY is empty")
    elseif(key STREQUAL development_key)
      set(problem "LUMO_TELEMETRY_KEY is the development key")
    endif()
  endif()
  set(${out} "${problem}" PARENT_SCOPE)
endfunction()

if(LUMO_DISTRIBUTION)
  lumo_telemetry_problem(_lumo_problem "${LUMO_TELEMETRY_ENDPOINT}" "${LUMO_TELEMETRY_KEY}"
                         "${LUMO_DEV_TELEMETRY_ENDPOINT}" "${LUMO_DEV_TELEMETRY_KEY}")
  if(_lumo_problem)
    message(FATAL_ERROR
      "A distribution build never ships the development telemetry settings: ${_lumo_problem}.\n"
      "Give the service's endpoint and key: LUMO_TELEMETRY_ENDPOINT=https://... LUMO_TELEMETRY_KEY=... make package "
      "(or -DLUMO_TELEMETRY_ENDPOINT=... -DLUMO_TELEMETRY_KEY=...).")
  endif()
  if(NOT LUMO_BUILD_UI)
    message(FATAL_ERROR "A distribution build is the app: LUMO_BUILD_UI must be ON.")
  endif()
endif()

# The architectures of one Mach-O file (lipo), or "" when it cannot be read.
# Libraries of the SDK (text stubs) come in every architecture.
function(_lumo_file_architectures out file)
  set(${out} "" PARENT_SCOPE)
  string(FIND "${file}" "${CMAKE_OSX_SYSROOT}/" in_sdk)
  if(file MATCHES "\\.tbd$" OR (CMAKE_OSX_SYSROOT AND in_sdk EQUAL 0))
    set(${out} "arm64;x86_64" PARENT_SCOPE)
    return()
  endif()
  execute_process(COMMAND lipo -archs "${file}" RESULT_VARIABLE status OUTPUT_VARIABLE archs ERROR_QUIET)
  if(status EQUAL 0)
    string(STRIP "${archs}" archs)
    string(REPLACE " " ";" archs "${archs}")
    set(${out} "${archs}" PARENT_SCOPE)
  endif()
endfunction()

# The file an imported library target links, or "".
function(_lumo_library_file out target)
  set(${out} "" PARENT_SCOPE)
  if(NOT TARGET ${target})
    return()
  endif()
  foreach(property IMPORTED_LOCATION_RELEASE IMPORTED_LOCATION_NOCONFIG IMPORTED_LOCATION LOCATION)
    get_target_property(location ${target} ${property})
    if(location)
      set(${out} "${location}" PARENT_SCOPE)
      return()
    endif()
  endforeach()
endfunction()

# Sets CMAKE_OSX_ARCHITECTURES (for the targets created after the call) and
# LUMO_PACKAGE_ARCHITECTURE in the caller. Only a macOS distribution chooses;
# an explicit -DCMAKE_OSX_ARCHITECTURES is kept as given.
macro(lumo_choose_architectures)
  if(APPLE AND LUMO_DISTRIBUTION)
    _lumo_choose_architectures(_lumo_architectures)
    set(CMAKE_OSX_ARCHITECTURES "${_lumo_architectures}")
    if(_lumo_architectures MATCHES "arm64" AND _lumo_architectures MATCHES "x86_64")
      set(LUMO_PACKAGE_ARCHITECTURE "universal")
    else()
      set(LUMO_PACKAGE_ARCHITECTURE "${_lumo_architectures}")
    endif()
    message(STATUS "Distribution architectures: ${_lumo_architectures}")
  endif()
endmacro()

function(_lumo_choose_architectures out)
  if(CMAKE_OSX_ARCHITECTURES)
    set(${out} "${CMAKE_OSX_ARCHITECTURES}" PARENT_SCOPE)
    return()
  endif()
  set(files "")
  foreach(target Qt6::Core Qt6::Gui Qt6::Widgets CURL::libcurl OpenSSL::Crypto)
    _lumo_library_file(file ${target})
    list(APPEND files "${file}")
  endforeach()
  list(APPEND files ${PLIST_LINK_LIBRARIES})
  list(FILTER files EXCLUDE REGEX "^$")
  set(single "")
  foreach(file IN LISTS files)
    _lumo_file_architectures(archs "${file}")
    if(NOT ("arm64" IN_LIST archs AND "x86_64" IN_LIST archs))
      set(single "${file}")
      break()
    endif()
  endforeach()
  if(single STREQUAL "" AND files)
    set(${out} "arm64;x86_64" PARENT_SCOPE)
  else()
    message(STATUS "Not universal: ${single} is not built for both arm64 and x86_64")
    set(${out} "${CMAKE_SYSTEM_PROCESSOR}" PARENT_SCOPE)
  endif()
endfunction()
