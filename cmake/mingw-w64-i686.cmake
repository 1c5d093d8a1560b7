# Cross build for 32-bit Windows (the shipped PARVO.exe) with Debian's MinGW-w64.
set(CMAKE_SYSTEM_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
