# Cross build for 32-bit Windows (the primary target).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(ZV_TRIPLE i686-w64-mingw32)
set(ZV_WINE_ARCH win32)
set(ZV_WINE_LIBDIR /usr/lib/i386-linux-gnu/wine/i386-windows)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
