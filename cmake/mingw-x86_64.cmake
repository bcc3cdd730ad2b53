# The 64-bit Windows DLLs, for hosts that run as 64-bit processes.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(LEDSIGN_MINGW_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
