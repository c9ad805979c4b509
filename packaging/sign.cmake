# CPack pre-build script: checks and signs the staged app bundle before the
# disk image is made from it. The checks: nothing in the bundle loads a
# library from outside it, or needs a newer macOS than its Info.plist says.
#
# Environment (read when cpack runs):
#   LUMO_SIGN_IDENTITY  the Developer ID Application identity in the keychain,
#                       e.g. "Developer ID Application: Brimwell (AB12CD34EF)".
#                       Without it the bundle gets an ad-hoc signature (which
#                       Apple silicon needs to run it at all) and one line says
#                       that other Macs will refuse it.
#   LUMO_TEAM_ID        optional: the team the signature must carry; checked
#                       after signing, before the long wait for notarisation.
#
# With an identity, everything inside the bundle is signed from the inside out
# (plug-ins and libraries, then frameworks, then the app) with the hardened
# runtime and a secure time stamp, as notarisation requires; `--deep` is not
# used for signing.
cmake_minimum_required(VERSION 3.25)

set(identity "$ENV{LUMO_SIGN_IDENTITY}")
set(team "$ENV{LUMO_TEAM_ID}")

# The staged bundle: at the top of the staging directory, or one level down.
set(app "")
foreach(root "${CPACK_TEMPORARY_DIRECTORY}" "${CPACK_TEMPORARY_INSTALL_DIRECTORY}")
  if(root AND IS_DIRECTORY "${root}/${CPACK_LUMO_APP_BUNDLE}")
    set(app "${root}/${CPACK_LUMO_APP_BUNDLE}")
    break()
  endif()
  file(GLOB nested LIST_DIRECTORIES true "${root}/*/${CPACK_LUMO_APP_BUNDLE}")
  if(nested)
    list(GET nested 0 app)
    break()
  endif()
endforeach()
if(app STREQUAL "")
  message(FATAL_ERROR "No ${CPACK_LUMO_APP_BUNDLE} in the staging directory ${CPACK_TEMPORARY_DIRECTORY}")
endif()

# Every Mach-O file of the bundle (not the links a framework keeps to its
# current version).
file(GLOB_RECURSE files LIST_DIRECTORIES false "${app}/Contents/*")
set(machO "")
foreach(file IN LISTS files)
  if(IS_SYMLINK "${file}")
    continue()
  endif()
  file(READ "${file}" magic LIMIT 4 HEX)
  # 64-bit thin (cf fa ed fe as stored), universal (ca fe ba be).
  if(magic STREQUAL "cffaedfe" OR magic STREQUAL "cafebabe")
    list(APPEND machO "${file}")
  endif()
endforeach()

# Nothing may still load a library from outside the bundle and the system:
# the user's Mac has no Homebrew, or another one.
set(leaks "")
foreach(file IN LISTS machO)
  execute_process(COMMAND otool -L "${file}" OUTPUT_VARIABLE linked RESULT_VARIABLE status ERROR_QUIET)
  if(NOT status EQUAL 0)
    continue()
  endif()
  string(REPLACE "\n" ";" lines "${linked}")
  list(REMOVE_AT lines 0)  # otool's own line: the file name
  foreach(line IN LISTS lines)
    string(STRIP "${line}" line)
    if(line MATCHES ":$")  # "<file> (architecture arm64):" in a universal file
      continue()
    endif()
    string(REGEX REPLACE " \\(compatibility version.*$" "" library "${line}")
    if(library STREQUAL "" OR library MATCHES "^(@|/usr/lib/|/System/)")
      continue()
    endif()
    file(RELATIVE_PATH inside "${app}" "${file}")
    list(APPEND leaks "${inside} -> ${library}")
  endforeach()
endforeach()
if(leaks)
  list(JOIN leaks "\n  " leaks)
  message(FATAL_ERROR "The bundle still loads libraries from outside itself:\n  ${leaks}")
endif()

# Nothing may need a newer macOS than the app says it runs on: a library
# built on a newer Mac (Homebrew's bottles are) would stop the app there.
set(too_new "")
foreach(file IN LISTS machO)
  execute_process(COMMAND otool -l "${file}" OUTPUT_VARIABLE commands RESULT_VARIABLE status ERROR_QUIET)
  string(REGEX MATCHALL "minos [0-9.]+" minimums "${commands}")
  foreach(minimum IN LISTS minimums)
    string(REPLACE "minos " "" minimum "${minimum}")
    if(minimum VERSION_GREATER CPACK_LUMO_MINIMUM_SYSTEM)
      file(RELATIVE_PATH inside "${app}" "${file}")
      list(APPEND too_new "${inside} needs macOS ${minimum}")
      break()
    endif()
  endforeach()
endforeach()
if(too_new)
  list(JOIN too_new "\n  " too_new)
  message(FATAL_ERROR "The app says it runs on macOS ${CPACK_LUMO_MINIMUM_SYSTEM}, but:\n  ${too_new}\n"
                      "Make the package on macOS ${CPACK_LUMO_MINIMUM_SYSTEM}, whose Homebrew bottles are built for it.")
endif()

function(sign path)
  execute_process(COMMAND codesign ${ARGN} "${path}" RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "codesign ${ARGN} ${path} failed:\n${out}")
  endif()
endfunction()

if(identity STREQUAL "")
  sign("${app}" --force --deep --sign -)
  message(STATUS "Not signed for distribution (LUMO_SIGN_IDENTITY is not set): ad-hoc signature only, so other Macs will refuse to open the app.")
  return()
endif()

set(options --force --options runtime --timestamp --sign "${identity}")
# Plug-ins and libraries outside frameworks first, then the frameworks, then the app.
set(frameworks "")
foreach(file IN LISTS machO)
  if(file MATCHES "^(.*\\.framework)/")
    list(APPEND frameworks "${CMAKE_MATCH_1}")
  elseif(NOT file MATCHES "/Contents/MacOS/")
    sign("${file}" ${options})
  endif()
endforeach()
list(REMOVE_DUPLICATES frameworks)
foreach(framework IN LISTS frameworks)
  sign("${framework}" ${options})
endforeach()
sign("${app}" ${options})

execute_process(COMMAND codesign --verify --deep --strict --verbose=2 "${app}"
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "The signed bundle does not verify:\n${out}")
endif()
if(NOT team STREQUAL "")
  execute_process(COMMAND codesign --display --verbose=2 "${app}" OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT out MATCHES "TeamIdentifier=${team}\n")
    message(FATAL_ERROR "The bundle is signed by another team than LUMO_TEAM_ID=${team}:\n${out}")
  endif()
endif()
message(STATUS "Signed ${CPACK_LUMO_APP_BUNDLE} as ${identity}")
