# CPack post-build script: signs the disk image, has Apple notarise it and
# staples the ticket to it, so that Gatekeeper opens the app without a warning,
# offline too.
#
# Environment (read when cpack runs):
#   LUMO_SIGN_IDENTITY   as for packaging/sign.cmake; without it nothing here
#                        runs (sign.cmake has already said so).
#   LUMO_NOTARY_PROFILE  the notarytool keychain profile, stored once with
#                        `xcrun notarytool store-credentials <profile> ...`.
#                        Without it the image is signed but not notarised, and
#                        one line says so.
#
# `notarytool submit --wait` ends with status 0 whatever Apple's verdict, so
# the verdict is read from its JSON answer; anything but "Accepted" fails the
# package with Apple's log.
cmake_minimum_required(VERSION 3.25)

set(identity "$ENV{LUMO_SIGN_IDENTITY}")
set(profile "$ENV{LUMO_NOTARY_PROFILE}")
if(identity STREQUAL "")
  return()
endif()

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT status EQUAL 0)
    list(JOIN ARGN " " command)
    message(FATAL_ERROR "${command} failed:\n${out}")
  endif()
endfunction()

foreach(image IN LISTS CPACK_PACKAGE_FILES)
  if(NOT image MATCHES "\\.dmg$")
    continue()
  endif()
  get_filename_component(name "${image}" NAME)
  run(codesign --force --timestamp --sign "${identity}" "${image}")
  if(profile STREQUAL "")
    message(STATUS "Not notarised (LUMO_NOTARY_PROFILE is not set): Gatekeeper will warn about ${name} until it is.")
    continue()
  endif()

  message(STATUS "Notarising ${name} (this waits for Apple's answer)")
  execute_process(
    COMMAND xcrun notarytool submit "${image}" --keychain-profile "${profile}" --wait --output-format json
    RESULT_VARIABLE status OUTPUT_VARIABLE answer ERROR_VARIABLE errors)
  string(REGEX MATCH "{.*}" verdict_json "${answer}")
  string(JSON verdict ERROR_VARIABLE problem GET "${verdict_json}" status)
  string(JSON submission ERROR_VARIABLE ignored GET "${verdict_json}" id)
  if(NOT status EQUAL 0 OR problem OR NOT verdict STREQUAL "Accepted")
    set(log "")
    if(submission)
      execute_process(COMMAND xcrun notarytool log "${submission}" --keychain-profile "${profile}"
                      OUTPUT_VARIABLE log ERROR_VARIABLE log)
    endif()
    message(FATAL_ERROR "Apple did not notarise ${name} (status: ${verdict}):\n${answer}${errors}\n${log}")
  endif()

  run(xcrun stapler staple "${image}")
  run(xcrun stapler validate "${image}")
  message(STATUS "Notarised and stapled ${name}")
endforeach()
