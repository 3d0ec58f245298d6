# Cross-building the Windows program on Debian with mingw-w64 (posix threads,
# so std::thread and std::mutex work), linked statically so that takto.exe
# needs nothing but a bare Windows.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TAKTO_MINGW x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${TAKTO_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TAKTO_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${TAKTO_MINGW}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TAKTO_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
# Host files too: the build reads the installed fonts.
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
