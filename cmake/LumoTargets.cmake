# Warnings every target of ours builds with.
add_library(lumo_warnings INTERFACE)
target_compile_options(lumo_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Werror -Wshadow -Wnon-virtual-dtor -Wimplicit-fallthrough
  # GCC 12 and 13 report false -Wrestrict errors for `"literal" + std::string`
  # in optimised builds (GCC bug 105329); the warning is kept everywhere else.
  $<$<AND:$<CXX_COMPILER_ID:GNU>,$<VERSION_LESS:$<CXX_COMPILER_VERSION>,14>>:-Wno-restrict>)

# Sanitizers come from the presets through LUMO_SANITIZE (address,undefined | thread).
set(LUMO_SANITIZE "" CACHE STRING "Sanitizers to build with")
if(LUMO_SANITIZE)
  add_compile_options(-fsanitize=${LUMO_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${LUMO_SANITIZE})
endif()

# lumo_add_test(<name> SOURCES <files...> LIBS <targets...> [LABELS <labels...>])
# One GoogleTest program; each TEST becomes a CTest test when ctest runs.
function(lumo_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gmock GTest::gtest_main lumo_warnings lumo_testsupport)
  set(properties ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
  if(ARG_LABELS)
    list(APPEND properties LABELS "${ARG_LABELS}")
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60 PROPERTIES ${properties})
endfunction()
