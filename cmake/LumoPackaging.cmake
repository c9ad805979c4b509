# The app bundle and, in a distribution (cmake/LumoDistribution.cmake), the
# disk image. Included by app/CMakeLists.txt; everything here is macOS-only
# and does nothing elsewhere.
#
# lumo_app_bundle(<target>) builds <target> as "<display name>.app" for
# LUMO_PRODUCT (cmake/LumoProducts.cmake): the generated Info.plist, and the
# icon rendered at build time from the product's SVG (rsvg-convert, then
# iconutil; packaging/make-icns.cmake). Next to the bundle it writes a launcher
# script named <target>, so that build/<preset>/app/<target> starts the app on
# a Mac as it does elsewhere.
#
# lumo_disk_image(<target>), in a distribution: installs the bundle, deploys Qt
# and the other libraries into it with macdeployqt, and configures CPack's
# DragNDrop generator (a compressed disk image with a link to /Applications).
# `cmake --build <dir> --target package` then stages the bundle, signs it
# (packaging/sign.cmake), makes the image and signs, notarises and staples it
# (packaging/notarize.cmake). Signing and notarisation take their credentials
# from the environment when cpack runs; without them each step says so in one
# line and the image is still made.

function(lumo_app_bundle target)
  if(NOT APPLE)
    return()
  endif()
  set_target_properties(${target} PROPERTIES
    MACOSX_BUNDLE ON
    OUTPUT_NAME "${LUMO_PRODUCT_DISPLAY_NAME}"
    MACOSX_BUNDLE_INFO_PLIST "${LUMO_PRODUCT_INFO_PLIST}")

  find_program(LUMO_RSVG_CONVERT rsvg-convert)
  find_program(LUMO_ICONUTIL iconutil)
  if(LUMO_RSVG_CONVERT AND LUMO_ICONUTIL)
    get_filename_component(icon_name "${LUMO_PRODUCT_ICON}" NAME_WE)
    set(icns "${CMAKE_CURRENT_BINARY_DIR}/${icon_name}.icns")
    add_custom_command(OUTPUT "${icns}"
      COMMAND "${CMAKE_COMMAND}" "-DSVG=${LUMO_PRODUCT_ICON}" "-DICNS=${icns}"
              "-DRSVG_CONVERT=${LUMO_RSVG_CONVERT}" "-DICONUTIL=${LUMO_ICONUTIL}"
              -P "${PROJECT_SOURCE_DIR}/packaging/make-icns.cmake"
      DEPENDS "${LUMO_PRODUCT_ICON}" "${PROJECT_SOURCE_DIR}/packaging/make-icns.cmake"
      COMMENT "Rendering the app icon"
      VERBATIM)
    target_sources(${target} PRIVATE "${icns}")
    set_source_files_properties("${icns}" PROPERTIES MACOSX_PACKAGE_LOCATION Resources)
  elseif(LUMO_DISTRIBUTION)
    message(FATAL_ERROR "The app icon needs rsvg-convert (brew install librsvg) and iconutil (part of macOS).")
  else()
    message(STATUS "The app bundle has no icon: rsvg-convert was not found (brew install librsvg)")
  endif()

  get_property(multi_config GLOBAL PROPERTY GENERATOR_IS_MULTI_CONFIG)
  if(multi_config)
    return()  # one launcher could not name every configuration's bundle
  endif()
  file(GENERATE OUTPUT "${CMAKE_CURRENT_BINARY_DIR}/${target}"
    CONTENT "#!/bin/sh\n# Starts the app inside its bundle.\nexec \"$<TARGET_FILE:${target}>\" \"$@\"\n"
    FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
endfunction()

macro(lumo_disk_image target)
  if(APPLE AND LUMO_DISTRIBUTION)
    _lumo_install_bundle(${target})

    set(CPACK_GENERATOR DragNDrop)
    set(CPACK_PACKAGE_NAME "${LUMO_PRODUCT_DISPLAY_NAME}")
    set(CPACK_PACKAGE_VENDOR "${LUMO_PUBLISHER_NAME}")
    set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
    string(REPLACE " " "-" _lumo_file_stem "${LUMO_PRODUCT_DISPLAY_NAME}")
    # The image's name says what it runs on: "universal", "arm64" or "x86_64".
    set(CPACK_PACKAGE_FILE_NAME "${_lumo_file_stem}-${PROJECT_VERSION}-${LUMO_PACKAGE_ARCHITECTURE}")
    set(CPACK_DMG_VOLUME_NAME "${LUMO_PRODUCT_DISPLAY_NAME}")
    set(CPACK_DMG_FORMAT UDZO)
    set(CPACK_PRE_BUILD_SCRIPTS "${PROJECT_SOURCE_DIR}/packaging/sign.cmake")
    set(CPACK_POST_BUILD_SCRIPTS "${PROJECT_SOURCE_DIR}/packaging/notarize.cmake")
    # Read by the two scripts (CPack passes on every CPACK_ variable).
    set(CPACK_LUMO_APP_BUNDLE "${LUMO_PRODUCT_DISPLAY_NAME}.app")
    set(CPACK_LUMO_MINIMUM_SYSTEM "${LUMO_MACOS_MINIMUM}")
    include(CPack)
  endif()
endmacro()

function(_lumo_install_bundle target)
  # The installed executable keeps the directories it was linked against as
  # run paths, so that macdeployqt can resolve Qt's @rpath names; macdeployqt
  # then replaces them with the bundle's own Frameworks directory.
  set_target_properties(${target} PROPERTIES INSTALL_RPATH_USE_LINK_PATH ON)
  install(TARGETS ${target} BUNDLE DESTINATION .)

  find_program(LUMO_MACDEPLOYQT macdeployqt
    HINTS "${QT6_INSTALL_PREFIX}/${QT6_INSTALL_BINS}" "${QT6_INSTALL_PREFIX}/bin"
    REQUIRED)
  set(bundle "${LUMO_PRODUCT_DISPLAY_NAME}.app")
  install(CODE "
    set(bundle \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${bundle}\")
    message(STATUS \"Deploying Qt into \${bundle}\")
    execute_process(COMMAND \"${LUMO_MACDEPLOYQT}\" \"\${bundle}\" -verbose=1 -always-overwrite
                    COMMAND_ERROR_IS_FATAL ANY)
  ")
endfunction()
