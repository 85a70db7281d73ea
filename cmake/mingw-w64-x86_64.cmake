# Cross-builds taletab.exe for 64-bit Windows with MinGW-w64 (Debian's
# g++-mingw-w64-x86-64), and runs what it builds under wine (Debian's wine
# and wine64), so that ctest runs every test against the Windows program.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every program is linked whole, so that it needs no DLL beside the system's.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Wine keeps its state inside the build folder and stays quiet; it reads
# Linux file names as UTF-8.
set(CMAKE_CROSSCOMPILING_EMULATOR env LC_ALL=C.UTF-8 WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix WINEDEBUG=-all wine)
