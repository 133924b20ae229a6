# GoogleTest for the cross build, built from the sources of Debian's
# libgtest-dev (/usr/src/googletest) with the cross compiler: the host's
# libgtest.a is a Linux library and cannot be linked into a Windows program.
# The toolchain file puts this directory on CMAKE_MODULE_PATH, so a plain
# find_package(GTest) finds these targets, under the names FindGTest gives.

set(QUILLRUN_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources for the cross build")

if(NOT TARGET gtest)
  if(NOT EXISTS ${QUILLRUN_GTEST_SOURCE_DIR}/CMakeLists.txt)
    if(GTest_FIND_REQUIRED)
      message(FATAL_ERROR "GoogleTest sources not found in ${QUILLRUN_GTEST_SOURCE_DIR} "
                          "(Debian: apt-get install libgtest-dev)")
    endif()
    set(GTest_FOUND FALSE)
    set(GTEST_FOUND FALSE)
    return()
  endif()
  set(INSTALL_GTEST OFF CACHE BOOL "Install GoogleTest with the project" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "Build GoogleMock")
  # SYSTEM: the project's warning options (and -Werror) neither apply to
  # GoogleTest's sources nor to its headers in the tests.
  add_subdirectory(${QUILLRUN_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  foreach(target gtest gtest_main gmock gmock_main)
    if(TARGET ${target})
      set_property(TARGET ${target} PROPERTY COMPILE_OPTIONS "")
    endif()
  endforeach()
endif()

foreach(name GTest Main)
  if(NOT TARGET GTest::${name})
    add_library(GTest::${name} INTERFACE IMPORTED GLOBAL)
  endif()
endforeach()
set_property(TARGET GTest::GTest PROPERTY INTERFACE_LINK_LIBRARIES gtest)
set_property(TARGET GTest::Main PROPERTY INTERFACE_LINK_LIBRARIES gtest_main)

set(GTest_FOUND TRUE)
set(GTEST_FOUND TRUE)
set(GTEST_INCLUDE_DIRS ${QUILLRUN_GTEST_SOURCE_DIR}/googletest/include)
set(GTEST_LIBRARIES gtest)
set(GTEST_MAIN_LIBRARIES gtest_main)
set(GTEST_BOTH_LIBRARIES gtest gtest_main)
