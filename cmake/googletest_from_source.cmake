# GoogleTest for a cross build: the installed libraries are built for the build machine, so
# the framework is compiled from Debian's source package (libgtest-dev ships it in
# /usr/src/googletest) with the cross compiler. It brings the same targets as find_package(GTest).
set(QUILLON_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest source for cross builds")
if(NOT EXISTS ${QUILLON_GTEST_SOURCE_DIR}/CMakeLists.txt)
    message(FATAL_ERROR "GoogleTest source not found in ${QUILLON_GTEST_SOURCE_DIR} "
                        "(Debian: apt install libgtest-dev)")
endif()
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${QUILLON_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
# The source tree itself defines GTest::gtest and GTest::gtest_main as aliases.
