# Cross-compiles for 64-bit Windows with Debian's mingw-w64 (posix thread model, for std::mutex
# and std::thread), linking everything statically so an .exe needs no mingw DLL beside it.
#
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
#         -DMARLUNE_WINDOWS_PREFIX="$(scripts/windows-deps | tail -1)" ...
#
# MARLUNE_WINDOWS_PREFIX (cache or environment variable) names the prefix that scripts/windows-deps
# built; libraries, headers and CMake packages are looked up only there and in the mingw sysroot,
# programs only on the build host. Test programs run through wine (CMAKE_CROSSCOMPILING_EMULATOR).

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(MARLUNE_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${MARLUNE_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MARLUNE_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${MARLUNE_MINGW_TRIPLE}-windres)

if(NOT MARLUNE_WINDOWS_PREFIX AND DEFINED ENV{MARLUNE_WINDOWS_PREFIX})
  set(MARLUNE_WINDOWS_PREFIX "$ENV{MARLUNE_WINDOWS_PREFIX}")
endif()
set(MARLUNE_WINDOWS_PREFIX "${MARLUNE_WINDOWS_PREFIX}"
    CACHE PATH "Prefix holding the Windows builds of the third-party libraries")
# try_compile() re-reads this file in a project of its own: hand the prefix on to it.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES MARLUNE_WINDOWS_PREFIX)

set(CMAKE_FIND_ROOT_PATH /usr/${MARLUNE_MINGW_TRIPLE})
if(MARLUNE_WINDOWS_PREFIX)
  list(APPEND CMAKE_FIND_ROOT_PATH "${MARLUNE_WINDOWS_PREFIX}")
  list(APPEND CMAKE_PREFIX_PATH "${MARLUNE_WINDOWS_PREFIX}")
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config sees the target's .pc files only, never the build host's.
set(ENV{PKG_CONFIG_LIBDIR} "/usr/${MARLUNE_MINGW_TRIPLE}/lib/pkgconfig")
if(MARLUNE_WINDOWS_PREFIX)
  set(ENV{PKG_CONFIG_LIBDIR} "${MARLUNE_WINDOWS_PREFIX}/lib/pkgconfig:$ENV{PKG_CONFIG_LIBDIR}")
endif()

# FindOpenSSL then adds the Windows libraries that a static libcrypto needs (ws2_32, crypt32).
set(OPENSSL_USE_STATIC_LIBS TRUE)

# -static takes libgcc, libstdc++ and winpthread from their archives.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")

# Debian keeps its wine64 loader in /usr/lib/wine and only the wrapper "wine" on PATH; the
# loader itself spares every run the wrapper's hint about a missing 32-bit wine. Callers set
# WINEPREFIX, and WINEDEBUG=-all to keep wine's own notes off the programs' standard error.
find_program(MARLUNE_WINE NAMES wine64 wine PATHS /usr/lib/wine)
if(MARLUNE_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${MARLUNE_WINE}")
endif()
