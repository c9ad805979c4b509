# The products' identity: display names, bundle identifiers, icons and the
# publisher's copyright, read from packaging/products.json.
#
# That file is the one place for the names that both the build and the C++
# need. The build uses them for the app bundle, its Info.plist and the disk
# image; the C++ configurations (app/JavaProduct.cpp, engine/config/Fixwell.cpp)
# take ProductConfig::displayName and ::userDefaultsPrefix from the header
# generated here, ProductIdentity.h (target lumo_product_identity). The bundle
# identifier and the preference prefix are one value on purpose: on macOS an
# app's standard user-defaults domain is its bundle identifier, and the
# preferences live in that domain.
#
# LUMO_PRODUCT picks the product the app bundle is built as; after this file
# LUMO_PRODUCT_DISPLAY_NAME, LUMO_PRODUCT_BUNDLE_IDENTIFIER, LUMO_PRODUCT_ICON
# (the SVG), LUMO_PUBLISHER_NAME and LUMO_PUBLISHER_COPYRIGHT describe it, and
# LUMO_PRODUCT_INFO_PLIST is its generated Info.plist.

set(LUMO_PRODUCTS_FILE "${PROJECT_SOURCE_DIR}/packaging/products.json")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${LUMO_PRODUCTS_FILE}")
file(READ "${LUMO_PRODUCTS_FILE}" LUMO_PRODUCTS_JSON)

# lumo_product_value(<out> <json path...>): the string at that path; a missing
# or malformed entry stops the configuration with the reason.
function(lumo_product_value out)
  string(JSON value ERROR_VARIABLE problem GET "${LUMO_PRODUCTS_JSON}" ${ARGN})
  if(problem)
    message(FATAL_ERROR "packaging/products.json: ${problem}")
  endif()
  set(${out} "${value}" PARENT_SCOPE)
endfunction()

string(JSON _lumo_product_count ERROR_VARIABLE _lumo_problem LENGTH "${LUMO_PRODUCTS_JSON}" products)
if(_lumo_problem OR _lumo_product_count EQUAL 0)
  message(FATAL_ERROR "packaging/products.json: no products (${_lumo_problem})")
endif()
set(LUMO_PRODUCTS "")
math(EXPR _lumo_last "${_lumo_product_count} - 1")
foreach(index RANGE ${_lumo_last})
  string(JSON key MEMBER "${LUMO_PRODUCTS_JSON}" products ${index})
  list(APPEND LUMO_PRODUCTS "${key}")
endforeach()

set(LUMO_PRODUCT "lumora-java" CACHE STRING "The product the app bundle is built as (a key of packaging/products.json)")
set_property(CACHE LUMO_PRODUCT PROPERTY STRINGS ${LUMO_PRODUCTS})
if(NOT LUMO_PRODUCT IN_LIST LUMO_PRODUCTS)
  list(JOIN LUMO_PRODUCTS ", " _lumo_known)
  message(FATAL_ERROR "LUMO_PRODUCT is \"${LUMO_PRODUCT}\"; packaging/products.json has: ${_lumo_known}")
endif()

lumo_product_value(LUMO_PUBLISHER_NAME publisher name)
lumo_product_value(LUMO_PUBLISHER_COPYRIGHT publisher copyright)
lumo_product_value(_lumo_publisher_prefix publisher reverseDNS)

# lumo_product_identity(<product> <display name out> <bundle identifier out> <icon out>)
function(lumo_product_identity product name_out identifier_out icon_out)
  lumo_product_value(name products "${product}" displayName)
  lumo_product_value(suffix products "${product}" identifierSuffix)
  lumo_product_value(icon products "${product}" icon)
  set(identifier "${_lumo_publisher_prefix}.${suffix}")
  # A bundle identifier may hold only letters, digits, hyphens and periods.
  if(NOT identifier MATCHES "^[A-Za-z0-9-]+(\\.[A-Za-z0-9-]+)+$")
    message(FATAL_ERROR "packaging/products.json: \"${identifier}\" (${product}) is not a reverse-DNS bundle identifier")
  endif()
  if(name STREQUAL "" OR name MATCHES "[/:\"\\\\]")
    message(FATAL_ERROR "packaging/products.json: the display name of ${product} must be a plain, non-empty file name")
  endif()
  set(${name_out} "${name}" PARENT_SCOPE)
  set(${identifier_out} "${identifier}" PARENT_SCOPE)
  set(${icon_out} "${PROJECT_SOURCE_DIR}/packaging/${icon}" PARENT_SCOPE)
endfunction()

# "lumora-java" -> "LumoraJava"
function(_lumo_upper_camel out text)
  string(REPLACE "-" ";" parts "${text}")
  set(result "")
  foreach(part IN LISTS parts)
    string(SUBSTRING "${part}" 0 1 first)
    string(SUBSTRING "${part}" 1 -1 rest)
    string(TOUPPER "${first}" first)
    string(APPEND result "${first}${rest}")
  endforeach()
  set(${out} "${result}" PARENT_SCOPE)
endfunction()

# Text made safe for XML character data.
function(_lumo_xml_escaped out text)
  string(REPLACE "&" "&amp;" text "${text}")
  string(REPLACE "<" "&lt;" text "${text}")
  string(REPLACE ">" "&gt;" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# The Info.plist of one product's bundle. CFBundleVersion is the build number
# that telemetry reports too ("0" when none is set).
function(lumo_write_info_plist product file)
  lumo_product_identity("${product}" name identifier icon)
  get_filename_component(icon_name "${icon}" NAME_WE)
  set(build "${LUMO_BUILD_NUMBER}")
  if(build STREQUAL "")
    set(build "0")
  endif()
  _lumo_xml_escaped(LUMO_PLIST_NAME "${name}")
  _lumo_xml_escaped(LUMO_PLIST_COPYRIGHT "${LUMO_PUBLISHER_COPYRIGHT}")
  _lumo_xml_escaped(LUMO_PLIST_BUILD "${build}")
  set(LUMO_PLIST_IDENTIFIER "${identifier}")
  set(LUMO_PLIST_ICON_FILE "${icon_name}.icns")
  set(LUMO_PLIST_SHORT_VERSION "${PROJECT_VERSION}")
  set(LUMO_PLIST_MINIMUM_SYSTEM "${LUMO_MACOS_MINIMUM}")
  configure_file("${PROJECT_SOURCE_DIR}/packaging/Info.plist.in" "${file}" @ONLY)
  if(CMAKE_HOST_APPLE)
    find_program(LUMO_PLUTIL plutil)
    if(LUMO_PLUTIL)
      execute_process(COMMAND "${LUMO_PLUTIL}" -lint "${file}" RESULT_VARIABLE status OUTPUT_VARIABLE report ERROR_VARIABLE report)
      if(NOT status EQUAL 0)
        message(FATAL_ERROR "The Info.plist of ${product} is not a valid property list: ${report}")
      endif()
    endif()
  endif()
endfunction()

# ProductIdentity.h: every product's display name and bundle identifier.
set(_lumo_identities "")
foreach(product IN LISTS LUMO_PRODUCTS)
  lumo_product_identity("${product}" name identifier icon)
  _lumo_upper_camel(constant "${product}")
  string(REPLACE "\\" "\\\\" name "${name}")
  string(REPLACE "\"" "\\\"" name "${name}")
  string(APPEND _lumo_identities
    "inline constexpr ProductIdentity k${constant}{\"${name}\", \"${identifier}\"};\n")
  # Every product's Info.plist, on every system: the tests read them.
  lumo_write_info_plist("${product}" "${PROJECT_BINARY_DIR}/packaging/${product}/Info.plist")
endforeach()
file(CONFIGURE OUTPUT "${PROJECT_BINARY_DIR}/generated/ProductIdentity.h" CONTENT
"// Generated from packaging/products.json by cmake/LumoProducts.cmake: edit
// that file, not this one.
#pragma once

namespace lumo::identity {

struct ProductIdentity {
    const char* displayName;
    // Also the product's user-defaults domain and the prefix of its preference keys.
    const char* bundleIdentifier;
};

@_lumo_identities@
}  // namespace lumo::identity
" @ONLY)
add_library(lumo_product_identity INTERFACE)
target_include_directories(lumo_product_identity INTERFACE "${PROJECT_BINARY_DIR}/generated")

lumo_product_identity("${LUMO_PRODUCT}" LUMO_PRODUCT_DISPLAY_NAME LUMO_PRODUCT_BUNDLE_IDENTIFIER LUMO_PRODUCT_ICON)
set(LUMO_PRODUCT_INFO_PLIST "${PROJECT_BINARY_DIR}/packaging/${LUMO_PRODUCT}/Info.plist")
