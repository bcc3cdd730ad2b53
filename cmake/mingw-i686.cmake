# The 32-bit Windows DLLs, the product hosts load today.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(LEDSIGN_MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
