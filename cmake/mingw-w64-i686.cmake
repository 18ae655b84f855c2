# Cross-compiling for 32-bit Windows; the programs run under 32-bit Wine. 32-bit is the product's bitness because
# an in-process control is loaded only by a program of its own bitness.
set(TAVRIN_MINGW_ARCH i686)
set(CMAKE_SYSTEM_PROCESSOR x86)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine)
