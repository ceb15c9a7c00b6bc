# Shared target settings: warnings as errors on every target of the project,
# sanitizers when asked for, and helpers that add a subsystem library or a test.

if(KORBU_SANITIZE)
  add_compile_options(-fsanitize=${KORBU_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${KORBU_SANITIZE})
endif()

function(korbu_warnings target)
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    return()
  endif()
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4 /WX)
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow
      -Wnon-virtual-dtor -Wold-style-cast -Wcast-align -Wunused -Woverloaded-virtual
      -Wconversion
      -Wformat=2 -Wimplicit-fallthrough -Werror)
    # GCC 12 at -O3 reports string concatenation in libstdc++ as overlapping
    # copies (GCC bug 105329), a false positive that would fail Release builds.
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
      target_compile_options(${target} PRIVATE -Wno-restrict)
    endif()
  endif()
endfunction()

# korbu_library(NAME [SOURCES ...] [DEPS ...] [PUBLIC_DEPS ...])
# Without SOURCES, every .cpp of the calling folder is the library.
function(korbu_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;PUBLIC_DEPS" ${ARGN})
  if(NOT ARG_SOURCES)
    file(GLOB ARG_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  endif()
  if(ARG_SOURCES)
    add_library(${name} STATIC ${ARG_SOURCES})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} PUBLIC ${ARG_PUBLIC_DEPS} PRIVATE ${ARG_DEPS})
    korbu_warnings(${name})
  else()
    # A subsystem with no sources yet still gives its name to the libraries above it.
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} INTERFACE ${ARG_PUBLIC_DEPS} ${ARG_DEPS})
  endif()
endfunction()

# korbu_test(NAME [SOURCES ...] LIBS ...): one GoogleTest executable run by CTest.
# Without SOURCES, every .cpp of the calling folder is the test.
function(korbu_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  if(NOT ARG_SOURCES)
    file(GLOB ARG_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} korbu_test_support GTest::gtest GTest::gmock GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE
    KORBU_SHARED_DIR="${PROJECT_SOURCE_DIR}/../shared"
    KORBU_BUILD_DIR="${CMAKE_BINARY_DIR}")
  korbu_warnings(${name})
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60 TEST_LIST ${name}_TESTS)
  # Labels go on after discovery: a list given to the discovery's PROPERTIES keeps
  # only its first entry. This file runs after the discovered tests are defined.
  # A program run by a test keeps its verdict cache in the build folder, never in
  # the user's home.
  set(labels_file ${CMAKE_CURRENT_BINARY_DIR}/${name}_labels.cmake)
  file(WRITE ${labels_file}
    "if(DEFINED ${name}_TESTS)\n"
    "  set_tests_properties(\${${name}_TESTS} PROPERTIES LABELS \"${name};${ARG_LABELS}\"\n"
    "    ENVIRONMENT \"XDG_CACHE_HOME=${CMAKE_CURRENT_BINARY_DIR}/cache-home\")\n"
    "endif()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${labels_file})
endfunction()
