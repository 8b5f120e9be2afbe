# Cross build for 32-bit Windows with Debian's mingw-w64: the configuration
# that loads a 32-bit record manager DLL.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(NUBO_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
