# Shared part of the mingw-w64 cross toolchains; included with NUBO_MINGW_TRIPLE set.
#
# The POSIX-thread flavour of Debian's compilers, with every program and DLL
# linked statically against the compiler's run-time libraries, so that a
# build is one self-contained file per program. Libraries built for the
# target (SQLite, GoogleTest) are looked up in NUBO_WINDOWS_DEPS, the prefix
# that scripts/windows-build.sh fills.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${NUBO_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${NUBO_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${NUBO_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${NUBO_MINGW_TRIPLE})
if(NUBO_WINDOWS_DEPS)
  list(APPEND CMAKE_FIND_ROOT_PATH ${NUBO_WINDOWS_DEPS})
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES NUBO_WINDOWS_DEPS NUBO_WINDOWS_EMULATOR)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

# Test programs run through this command (Wine), for test discovery and ctest.
if(NUBO_WINDOWS_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${NUBO_WINDOWS_EMULATOR})
endif()
