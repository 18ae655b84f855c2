# What tavrin.exe needs beside it on a Windows PC, and how tests run it under
# Wine here. Included after find_package(Qt5 or Qt6) on WIN32 builds.

# mingw's runtime: the compiler knows where its own DLLs are.
set(TAVRIN_RUNTIME_DLLS)
foreach(dll libgcc_s_dw2-1.dll libgcc_s_seh-1.dll libstdc++-6.dll libwinpthread-1.dll)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
                    OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(IS_ABSOLUTE "${path}" AND EXISTS "${path}")
        list(APPEND TAVRIN_RUNTIME_DLLS "${path}")
    endif()
endforeach()

# Qt's DLLs and the two plugins the program loads, wherever the kit keeps them.
set(qt Qt${TAVRIN_QT_MAJOR})
set(TAVRIN_QT_DLLS $<TARGET_FILE:${qt}::Core> $<TARGET_FILE:${qt}::Gui> $<TARGET_FILE:${qt}::Widgets>)
set(TAVRIN_QT_PLATFORM_PLUGIN $<TARGET_FILE:${qt}::QWindowsIntegrationPlugin>)
set(TAVRIN_QT_STYLE_PLUGIN $<TARGET_FILE:${qt}::QWindowsVistaStylePlugin>)

# The licences the zip carries: Qt's as the kit recorded them with the exact
# source it was built from (scripts/qt-kit.sh), and the compiler runtime's as
# Debian's mingw-w64 packages give them.
get_filename_component(kit "${${qt}_DIR}/../../.." ABSOLUTE)
set(TAVRIN_QT_LICENCES "${kit}/licences" CACHE PATH
    "Folder with Qt's licence texts and Qt-source-version.txt, for the zip")
set(TAVRIN_RUNTIME_LICENCES
    "GCC-runtime-copyright.txt=/usr/share/doc/gcc-mingw-w64-base/copyright"
    "mingw-w64-runtime-copyright.txt=/usr/share/doc/mingw-w64-common/copyright"
    CACHE STRING "NAME=FILE pairs: the compiler runtime's licences, for the zip")

if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(TAVRIN_WINDOWS_FLAVOUR win64)
else()
    set(TAVRIN_WINDOWS_FLAVOUR win32)
endif()

# Programs built here find their DLLs and Qt's plugins beside them, as on the PC.
set(bin ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
add_custom_target(runtime_dlls ALL
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${TAVRIN_QT_DLLS} $<TARGET_FILE:${qt}::Test>
            ${TAVRIN_RUNTIME_DLLS} ${bin}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${bin}/platforms ${bin}/styles
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${TAVRIN_QT_PLATFORM_PLUGIN} ${bin}/platforms
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${TAVRIN_QT_STYLE_PLUGIN} ${bin}/styles
    VERBATIM)

# The environment of a program run under Wine in the build's own prefix,
# with the real window system on the virtual display.
set(TAVRIN_QT_WINE_ENVIRONMENT ${TAVRIN_WINE_ENVIRONMENT} "WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix"
    "QT_QPA_PLATFORM=windows")

# The folder a technician copies onto the PC, zipped: the program, the Qt
# DLLs and plugins it loads, mingw's runtime, a README and the licences, and
# beside it its bill of materials and dist/SHA256SUMS.
set(TAVRIN_DIST_NAME "tavrin-${PROJECT_VERSION}-${TAVRIN_WINDOWS_FLAVOUR}")
add_custom_target(dist
    COMMAND ${CMAKE_COMMAND}
        -DEXE=$<TARGET_FILE:tavrin>
        "-DQT_DLLS=${TAVRIN_QT_DLLS}"
        -DPLATFORM_PLUGIN=${TAVRIN_QT_PLATFORM_PLUGIN}
        -DSTYLE_PLUGIN=${TAVRIN_QT_STYLE_PLUGIN}
        "-DRUNTIME_DLLS=${TAVRIN_RUNTIME_DLLS}"
        -DQT_LICENCES=${TAVRIN_QT_LICENCES}
        "-DRUNTIME_LICENCES=${TAVRIN_RUNTIME_LICENCES}"
        -DREADME=${CMAKE_SOURCE_DIR}/app/README.txt.in
        -DVERSION=${PROJECT_VERSION}
        -DFLAVOUR=${TAVRIN_WINDOWS_FLAVOUR}
        -DSTRIP=${CMAKE_STRIP}
        -DCXX=${CMAKE_CXX_COMPILER}
        -DSOURCE_DIR=${CMAKE_SOURCE_DIR}
        -DNAME=${TAVRIN_DIST_NAME}
        -DOUT=${CMAKE_SOURCE_DIR}/dist
        -P ${CMAKE_SOURCE_DIR}/cmake/PackageWindows.cmake
    DEPENDS tavrin
    COMMENT "Packing dist/${TAVRIN_DIST_NAME}.zip"
    VERBATIM)
