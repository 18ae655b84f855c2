# What tavrin.exe needs beside it on a Windows PC, and how tests run it under
# Wine here. Included after find_package(Qt6) on WIN32 builds.

# mingw's runtime: the compiler knows where its own DLLs are.
set(TAVRIN_RUNTIME_DLLS)
foreach(dll libgcc_s_dw2-1.dll libgcc_s_seh-1.dll libstdc++-6.dll libwinpthread-1.dll)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
                    OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(IS_ABSOLUTE "${path}" AND EXISTS "${path}")
        list(APPEND TAVRIN_RUNTIME_DLLS "${path}")
    endif()
endforeach()

set(TAVRIN_QT_BIN "${QT6_INSTALL_PREFIX}/${QT6_INSTALL_BINS}")
set(TAVRIN_QT_PLUGINS "${QT6_INSTALL_PREFIX}/${QT6_INSTALL_PLUGINS}")

if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(TAVRIN_WINDOWS_FLAVOUR win64)
else()
    set(TAVRIN_WINDOWS_FLAVOUR win32)
endif()

# Programs built here find their DLLs and Qt's plugins beside them, as on the PC.
set(dlls)
foreach(module Core Gui Widgets Test)
    list(APPEND dlls "${TAVRIN_QT_BIN}/Qt6${module}.dll")
endforeach()
set(bin ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
add_custom_target(runtime_dlls ALL
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${dlls} ${TAVRIN_RUNTIME_DLLS} ${bin}
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${TAVRIN_QT_PLUGINS}/platforms/qwindows.dll ${bin}/platforms/qwindows.dll
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${TAVRIN_QT_PLUGINS}/styles/qwindowsvistastyle.dll
            ${bin}/styles/qwindowsvistastyle.dll
    VERBATIM)

# The environment of a program run under Wine in the build's own prefix: the
# real window system on the virtual display, and no offer to install Mono or
# Gecko.
if(CMAKE_CROSSCOMPILING AND NOT CMAKE_CROSSCOMPILING_EMULATOR)
    set(CMAKE_CROSSCOMPILING_EMULATOR wine)
endif()
set(TAVRIN_WINE_ENVIRONMENT
    "WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix"
    "WINEDEBUG=-all"
    "WINEDLLOVERRIDES=mscoree,mshtml="
    "QT_QPA_PLATFORM=windows")

# The folder a technician copies onto the PC, zipped: the program, the Qt
# DLLs and plugins it loads and mingw's runtime, stripped.
set(TAVRIN_DIST_NAME "tavrin-${PROJECT_VERSION}-${TAVRIN_WINDOWS_FLAVOUR}")
add_custom_target(dist
    COMMAND ${CMAKE_COMMAND}
        -DEXE=$<TARGET_FILE:tavrin>
        -DQT_BIN=${TAVRIN_QT_BIN}
        -DQT_PLUGINS=${TAVRIN_QT_PLUGINS}
        "-DRUNTIME_DLLS=${TAVRIN_RUNTIME_DLLS}"
        -DSTRIP=${CMAKE_STRIP}
        -DNAME=${TAVRIN_DIST_NAME}
        -DOUT=${CMAKE_SOURCE_DIR}/dist
        -P ${CMAKE_SOURCE_DIR}/cmake/PackageWindows.cmake
    DEPENDS tavrin
    COMMENT "Packing dist/${TAVRIN_DIST_NAME}.zip"
    VERBATIM)
