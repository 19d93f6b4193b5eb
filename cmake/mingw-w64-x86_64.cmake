# Cross-compiling for 64-bit Windows with Debian's MinGW-w64 compilers. The
# posix thread model is named explicitly: the unsuffixed names are
# alternatives that may point at the win32 one.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(OVK_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${OVK_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${OVK_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${OVK_MINGW_TRIPLE}-windres)

# Libraries and headers come from the MinGW sysroot and from the prefix that
# scripts/windows-deps builds libpng into; programs from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${OVK_MINGW_TRIPLE})
if(OVK_WINDOWS_DEPS)
  list(APPEND CMAKE_FIND_ROOT_PATH ${OVK_WINDOWS_DEPS})
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# zlib as a static library (libz.a, not the import library of libz.dll).
set(ZLIB_USE_STATIC_LIBS ON)

# Test programs run under wine (Debian's wine64 package does not put wine64
# on PATH).
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
