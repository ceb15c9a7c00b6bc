# Packages Debian ships only for the host, provided for the MinGW build: GoogleTest
# from its sources (libgtest-dev), under the target names of find_package(GTest).
if((NOT DEFINED KORBU_BUILD_TESTS OR KORBU_BUILD_TESTS) AND NOT TARGET gtest)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  # Its own build defines GTest::gtest, GTest::gmock and the _main targets.
  # find_package(GTest) then finds these targets through a module of its own.
  set(module_dir ${CMAKE_BINARY_DIR}/korbu-find-modules)
  file(WRITE ${module_dir}/FindGTest.cmake "set(GTest_FOUND TRUE)\n")
  list(PREPEND CMAKE_MODULE_PATH ${module_dir})
endif()

# nlohmann/json is header-only: its headers alone, without the rest of the host's
# /usr/include, which would shadow the MinGW C library.
if(NOT TARGET nlohmann_json::nlohmann_json)
  set(host_headers ${CMAKE_BINARY_DIR}/korbu-host-headers)
  file(MAKE_DIRECTORY ${host_headers})
  file(CREATE_LINK /usr/include/nlohmann ${host_headers}/nlohmann SYMBOLIC)
  add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED GLOBAL)
  set_target_properties(nlohmann_json::nlohmann_json PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${host_headers})
  set(module_dir ${CMAKE_BINARY_DIR}/korbu-find-modules)
  file(WRITE ${module_dir}/Findnlohmann_json.cmake "set(nlohmann_json_FOUND TRUE)\n")
  list(PREPEND CMAKE_MODULE_PATH ${module_dir})
endif()
