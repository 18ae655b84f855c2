# How tests run a cross-built program under Wine: the loader of the build's
# bitness (the toolchain file names it) and the environment that every prefix
# is made and used with. A 32-bit build gets a 32-bit prefix, as on 32-bit
# Windows: a prefix keeps the bitness it was made with, and Wine refuses a
# 32-bit WINEARCH on a 64-bit prefix, so all of a build's tests ask for the same.
set(TAVRIN_WINE_ENVIRONMENT
    "WINE=${CMAKE_CROSSCOMPILING_EMULATOR}"
    "WINEDEBUG=-all"
    "WINEDLLOVERRIDES=mscoree,mshtml=") # no offer to install Mono or Gecko
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    list(APPEND TAVRIN_WINE_ENVIRONMENT WINEARCH=win32)
else()
    list(APPEND TAVRIN_WINE_ENVIRONMENT WINEARCH=win64)
endif()

# 32-bit Wine needs a kernel that runs 32-bit programs.
execute_process(COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} --version
                RESULT_VARIABLE wine_result OUTPUT_QUIET ERROR_QUIET)
if(wine_result EQUAL 0)
    set(TAVRIN_WINE_RUNS ON)
else()
    set(TAVRIN_WINE_RUNS OFF)
endif()
