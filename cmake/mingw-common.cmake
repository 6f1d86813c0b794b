# Shared by both mingw-w64 toolchain files. The -posix variants carry
# std::mutex and std::thread, which GoogleTest needs.
set(CMAKE_C_COMPILER ${ZV_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZV_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${ZV_TRIPLE}-windres)
set(ZV_WIDL ${ZV_TRIPLE}-widl)
set(ZV_OBJDUMP ${ZV_TRIPLE}-objdump)
set(CMAKE_FIND_ROOT_PATH /usr/${ZV_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Every module must import only Windows system DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
