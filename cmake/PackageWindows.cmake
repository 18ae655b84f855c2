# cmake -P: lays out the Windows program's folder, strips it, signs it when
# a certificate is given, writes its bill of materials, zips it and lists
# the checksums. The same commit gives the same bytes (scripts/reproduce.sh).
# Variables: EXE, QT_DLLS, PLATFORM_PLUGIN, STYLE_PLUGIN, RUNTIME_DLLS,
# QT_LICENCES, RUNTIME_LICENCES (NAME=FILE pairs), README, VERSION, FLAVOUR,
# STRIP, CXX, SOURCE_DIR, NAME, OUT.
# Environment: SOURCE_DATE_EPOCH and TAVRIN_BOM_CONTACT (default: the
# commit's time and committer), TAVRIN_SIGNING_PKCS12 with
# TAVRIN_SIGNING_PASSWORD_FILE, TAVRIN_SIGNING_TIMESTAMP_URL.
set(stage "${OUT}/${NAME}")
file(REMOVE_RECURSE "${stage}" "${OUT}/${NAME}.zip" "${OUT}/${NAME}.cdx.json")

# git_or_env VAR ENV FORMAT: $ENV, else the last commit's FORMAT field.
function(git_or_env var env format)
    if(DEFINED ENV{${env}} AND NOT "$ENV{${env}}" STREQUAL "")
        set(${var} "$ENV{${env}}" PARENT_SCOPE)
        return()
    endif()
    execute_process(COMMAND git -C "${SOURCE_DIR}" log -1 --format=${format}
                    OUTPUT_VARIABLE value OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE failed ERROR_QUIET)
    if(failed OR value STREQUAL "")
        message(FATAL_ERROR "${SOURCE_DIR} is no git checkout: set ${env}")
    endif()
    set(${var} "${value}" PARENT_SCOPE)
endfunction()
git_or_env(epoch SOURCE_DATE_EPOCH %ct)
git_or_env(contact TAVRIN_BOM_CONTACT %ce)
find_program(PYTHON /usr/bin/python3 python3 REQUIRED)
file(MAKE_DIRECTORY "${stage}/platforms" "${stage}/styles" "${stage}/licences")
file(COPY "${EXE}" ${QT_DLLS} ${RUNTIME_DLLS} DESTINATION "${stage}")
file(COPY "${PLATFORM_PLUGIN}" DESTINATION "${stage}/platforms")
file(COPY "${STYLE_PLUGIN}" DESTINATION "${stage}/styles")
file(GLOB_RECURSE binaries "${stage}/*.exe" "${stage}/*.dll")
# strip writes every PE file anew, with a new time stamp and checksum: the
# commit's time (binutils take SOURCE_DATE_EPOCH), not the build's.
foreach(binary IN LISTS binaries)
    execute_process(COMMAND "${CMAKE_COMMAND}" -E env SOURCE_DATE_EPOCH=${epoch}
                            "${STRIP}" --strip-unneeded "${binary}" RESULT_VARIABLE failed)
    if(failed)
        message(FATAL_ERROR "strip failed on ${binary}")
    endif()
endforeach()

# Authenticode, at a fixed signing time so that a signed zip is reproducible
# for a given key; a time-stamp server only when one is named.
if(NOT "$ENV{TAVRIN_SIGNING_PKCS12}" STREQUAL "")
    find_program(OSSLSIGNCODE osslsigncode REQUIRED)
    if(NOT EXISTS "$ENV{TAVRIN_SIGNING_PASSWORD_FILE}")
        message(FATAL_ERROR "TAVRIN_SIGNING_PASSWORD_FILE must name the file with the certificate's password")
    endif()
    set(timestamp)
    if(NOT "$ENV{TAVRIN_SIGNING_TIMESTAMP_URL}" STREQUAL "")
        set(timestamp -ts "$ENV{TAVRIN_SIGNING_TIMESTAMP_URL}")
    else()
        set(timestamp -time ${epoch})
    endif()
    foreach(binary IN LISTS binaries)
        execute_process(COMMAND "${OSSLSIGNCODE}" sign -pkcs12 "$ENV{TAVRIN_SIGNING_PKCS12}"
                                -readpass "$ENV{TAVRIN_SIGNING_PASSWORD_FILE}" -h sha256 -n Tavrin
                                ${timestamp} -in "${binary}" -out "${binary}.signed"
                        OUTPUT_QUIET RESULT_VARIABLE failed)
        if(failed)
            message(FATAL_ERROR "osslsigncode could not sign ${binary}")
        endif()
        file(RENAME "${binary}.signed" "${binary}")
    endforeach()
    list(LENGTH binaries count)
    message(STATUS "${NAME}: ${count} PE files signed with $ENV{TAVRIN_SIGNING_PKCS12}")
else()
    message(STATUS "${NAME}: unsigned (no TAVRIN_SIGNING_PKCS12)")
endif()

# Anyone may rebuild or replace the Qt DLLs: the zip names their exact source.
foreach(needed Qt-LGPL-3.txt GPL-3.txt Qt-source-version.txt)
    if(NOT EXISTS "${QT_LICENCES}/${needed}")
        message(FATAL_ERROR "${QT_LICENCES}/${needed} is missing: the zip must carry Qt's licence and source")
    endif()
endforeach()
file(GLOB qt_licences "${QT_LICENCES}/*")
file(COPY ${qt_licences} DESTINATION "${stage}/licences")
foreach(pair IN LISTS RUNTIME_LICENCES)
    string(REGEX MATCH "^([^=]+)=(.+)$" matched "${pair}")
    if(NOT matched OR NOT EXISTS "${CMAKE_MATCH_2}")
        message(FATAL_ERROR "the compiler runtime's licence ${pair} is missing")
    endif()
    configure_file("${CMAKE_MATCH_2}" "${stage}/licences/${CMAKE_MATCH_1}" COPYONLY)
endforeach()
file(READ "${QT_LICENCES}/Qt-source-version.txt" QT_SOURCE)
string(STRIP "${QT_SOURCE}" QT_SOURCE)
string(REGEX MATCH "[0-9]+\\.[0-9]+\\.[0-9]+" QT_VERSION "${QT_SOURCE}")
if(FLAVOUR STREQUAL "win64")
    set(BITNESS "64-bit")
else()
    set(BITNESS "32-bit")
endif()
configure_file("${README}" "${stage}/README.txt" @ONLY NEWLINE_STYLE CRLF)

# The bill of materials, inside the zip and beside it.
execute_process(COMMAND "${CMAKE_COMMAND}" -E env SOURCE_DATE_EPOCH=${epoch}
                        "${PYTHON}" "${CMAKE_CURRENT_LIST_DIR}/windows_bom.py" --stage "${stage}"
                        --out "${stage}/${NAME}.cdx.json" --version ${VERSION} --contact "${contact}"
                        --compiler "${CXX}" --runtime ${RUNTIME_DLLS}
                RESULT_VARIABLE failed)
if(failed)
    message(FATAL_ERROR "the bill of materials failed")
endif()
file(COPY_FILE "${stage}/${NAME}.cdx.json" "${OUT}/${NAME}.cdx.json")

execute_process(COMMAND "${CMAKE_COMMAND}" -E env SOURCE_DATE_EPOCH=${epoch}
                        "${PYTHON}" "${CMAKE_CURRENT_LIST_DIR}/pack_zip.py" "${stage}" "${OUT}/${NAME}.zip"
                RESULT_VARIABLE failed)
if(failed)
    message(FATAL_ERROR "zip failed")
endif()
file(SIZE "${OUT}/${NAME}.zip" size)
math(EXPR mib "${size} / 1048576")
message(STATUS "${OUT}/${NAME}.zip: ${mib} MiB")

# SHA256SUMS (sha256sum's format) over this version's zips and their bills.
file(GLOB released RELATIVE "${OUT}" "${OUT}/tavrin-${VERSION}-win*.zip" "${OUT}/tavrin-${VERSION}-win*.cdx.json")
list(SORT released)
set(sums)
foreach(file IN LISTS released)
    file(SHA256 "${OUT}/${file}" hash)
    string(APPEND sums "${hash}  ${file}\n")
endforeach()
file(WRITE "${OUT}/SHA256SUMS" "${sums}")
