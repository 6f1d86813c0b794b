# Settings shared by the native and the Windows builds.
set(ZV_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources (Debian's googletest package)")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
add_subdirectory(${ZV_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
include(GoogleTest)

# Every target of ours is compiled with these warnings (GoogleTest, added
# above, keeps its own); resource scripts take no compiler options.
foreach(warning -Wall -Wextra -Wno-unused-parameter -Wno-missing-field-initializers)
  add_compile_options($<$<COMPILE_LANGUAGE:C,CXX>:${warning}>)
endforeach()
