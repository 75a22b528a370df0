# Cross-building pawnbridge.exe for 64-bit Windows with Debian's mingw-w64
# (package g++-mingw-w64-x86-64). Used by scripts/build-windows.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(PAWNBRIDGE_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${PAWNBRIDGE_MINGW_PREFIX}-gcc)
set(CMAKE_CXX_COMPILER ${PAWNBRIDGE_MINGW_PREFIX}-g++)
set(CMAKE_RC_COMPILER ${PAWNBRIDGE_MINGW_PREFIX}-windres)

# Libraries and headers come from the cross sysroot only; programs run
# during the build come from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${PAWNBRIDGE_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The shipped exe carries no symbol table (about a fifth of the size).
set(CMAKE_EXE_LINKER_FLAGS_RELEASE_INIT "-s")
