set(CMAKE_SYSTEM_PROCESSOR i686)
set(ZORVANE_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
# SSE2 double arithmetic instead of x87's extended precision, so that the wavelength and the
# typed power (8.2 x 100 truncates to 819) come out as in the 64-bit build.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
