# Windows x86-64 with Debian's MinGW-w64 (posix threads, for std::thread), linked statically so
# that the programs run on a bare Windows (or Wine) without the MinGW runtime DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_kbr_mingw x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${_kbr_mingw}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_kbr_mingw}-g++-posix)
set(CMAKE_RC_COMPILER ${_kbr_mingw}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${_kbr_mingw})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Windows 7 and later: inet_pton, WSAPoll and the other calls of Vista's sockets.
set(CMAKE_C_FLAGS_INIT "-D_WIN32_WINNT=0x0601 -DWINVER=0x0601 -DWIN32_LEAN_AND_MEAN -DNOMINMAX")
set(CMAKE_CXX_FLAGS_INIT "${CMAKE_C_FLAGS_INIT}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
