# Renders the app's vector icon into an .icns: the ten PNGs of a macOS iconset
# (16 to 512 points, each at 1x and 2x) drawn by rsvg-convert from the SVG,
# then packed by iconutil.
#
#   cmake -DSVG=<icon.svg> -DICNS=<out.icns> -DRSVG_CONVERT=<path> -DICONUTIL=<path> -P make-icns.cmake
cmake_minimum_required(VERSION 3.25)
foreach(required SVG ICNS RSVG_CONVERT ICONUTIL)
  if(NOT DEFINED ${required} OR "${${required}}" STREQUAL "")
    message(FATAL_ERROR "make-icns.cmake needs -D${required}=...")
  endif()
endforeach()

get_filename_component(directory "${ICNS}" DIRECTORY)
get_filename_component(stem "${ICNS}" NAME_WE)
# iconutil takes the folder's name from its extension: it must end in .iconset.
set(iconset "${directory}/${stem}.iconset")
file(REMOVE_RECURSE "${iconset}")
file(MAKE_DIRECTORY "${iconset}")
foreach(points 16 32 128 256 512)
  foreach(scale 1 2)
    math(EXPR pixels "${points} * ${scale}")
    if(scale EQUAL 1)
      set(name "icon_${points}x${points}.png")
    else()
      set(name "icon_${points}x${points}@2x.png")
    endif()
    execute_process(COMMAND "${RSVG_CONVERT}" -w ${pixels} -h ${pixels} -o "${iconset}/${name}" "${SVG}"
                    COMMAND_ERROR_IS_FATAL ANY)
  endforeach()
endforeach()
execute_process(COMMAND "${ICONUTIL}" -c icns -o "${ICNS}" "${iconset}" COMMAND_ERROR_IS_FATAL ANY)
file(REMOVE_RECURSE "${iconset}")
