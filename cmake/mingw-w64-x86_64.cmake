# Cross-compiling for 64-bit Windows with Debian's MinGW-w64 (the posix thread model, which
# std::thread and std::mutex need). Used for Qt itself and for the program.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_mingw x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${_mingw}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_mingw}-g++-posix)
set(CMAKE_RC_COMPILER ${_mingw}-windres)
set(CMAKE_AR ${_mingw}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB ${_mingw}-gcc-ranlib-posix CACHE FILEPATH "")

# Find headers and libraries of the target only in the MinGW sysroot and in the prefixes the
# caller adds (the cross-built Qt); programs (moc, uic, rcc) come from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${_mingw})
# MinGW's own DLLs (libwinpthread-1.dll); GCC's (libstdc++-6.dll) are beside its libgcc.a.
set(VESTREL_MINGW_RUNTIME /usr/${_mingw}/lib)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The cross-built Qt (scripts/build-qt-mingw), outside the sysroot: -DVESTREL_MINGW_QT=<prefix>.
# Its packages are found as Qt's own qt.toolchain.cmake finds them.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VESTREL_MINGW_QT)
if(VESTREL_MINGW_QT)
  list(PREPEND CMAKE_FIND_ROOT_PATH "${VESTREL_MINGW_QT}")
  list(PREPEND CMAKE_PREFIX_PATH "${VESTREL_MINGW_QT}/lib/cmake")
endif()
