# Cross build for 64-bit Windows.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(ZV_TRIPLE x86_64-w64-mingw32)
set(ZV_WINE_ARCH win64)
set(ZV_WINE_LIBDIR /usr/lib/x86_64-linux-gnu/wine/x86_64-windows)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
