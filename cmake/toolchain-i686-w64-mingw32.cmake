# Cross build for 32-bit Windows (the primary target).
set(ZV_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
