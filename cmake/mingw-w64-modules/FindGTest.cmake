# GoogleTest for the cross build, built from the sources of Debian's
# libgtest-dev (/usr/src/googletest) with the cross compiler: the host's
# libgtest.a is a Linux library and cannot be linked into a Windows program.
# The toolchain file puts this directory on CMAKE_MODULE_PATH, so a plain
# find_package(GTest) gives GoogleTest's own GTest::gtest_main.

set(QUILLRUN_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources for the cross build")

if(NOT EXISTS ${QUILLRUN_GTEST_SOURCE_DIR}/CMakeLists.txt)
  if(GTest_FIND_REQUIRED)
    message(FATAL_ERROR "GoogleTest sources not found in ${QUILLRUN_GTEST_SOURCE_DIR} "
                        "(Debian: apt-get install libgtest-dev)")
  endif()
  set(GTest_FOUND FALSE)
  return()
endif()

if(NOT TARGET gtest)
  set(INSTALL_GTEST OFF CACHE BOOL "Install GoogleTest with the project" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "Build GoogleMock" FORCE)
  # SYSTEM: the project's warning options (and -Werror) neither apply to
  # GoogleTest's sources nor to its headers in the tests. Unoptimised, as the
  # test files are: it only runs them.
  add_subdirectory(${QUILLRUN_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  foreach(target gtest gtest_main)
    set_property(TARGET ${target} PROPERTY COMPILE_OPTIONS -O0)
  endforeach()
endif()
set(GTest_FOUND TRUE)
