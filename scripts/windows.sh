#!/usr/bin/env bash
# Builds the Windows program against Qt 5.15 kits made from Debian's own
# source (the first run builds each kit: about 9 minutes on 2 cores; later
# runs take them from the cache), packs dist/tavrin-<version>-win32.zip
# (32-bit, the product) and -win64.zip, checks without running them that each
# zip holds what it needs, loads on Windows 7 SP1 and carries its manifest,
# checks its bill of materials, its signatures when TAVRIN_SIGNING_PKCS12
# signs it, and dist/SHA256SUMS, and runs the tests, the zip and the program
# against a registered stand-in control under Wine on a virtual display, in
# prefixes reporting Windows 7 and Windows 10, for every bitness this machine
# can run.
#   bash scripts/windows.sh [x86_64|i686]...     (default: both, 64-bit first,
# whose tests then run while a 32-bit kit that CI builds beside them finishes)
set -euo pipefail
cd "$(dirname "$0")/.."
archs=("$@")
[ ${#archs[@]} -gt 0 ] || archs=(x86_64 i686)
step() { echo "windows: $*"; }

step "installing what the builds and Wine need"
bash scripts/setup.sh g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix mingw-w64-tools libwine-dev \
    wine wine32 wine64 xclip python3 python3-pefile python3-jsonschema osslsigncode openssl

for arch in "${archs[@]}"; do
    case $arch in
        i686) preset=windows flavour=win32 loader=/usr/lib/wine/wine ;;
        x86_64) preset=windows64 flavour=win64 loader=/usr/lib/wine/wine64 ;;
        *) echo "windows: architecture must be i686 or x86_64, not $arch" >&2; exit 2 ;;
    esac
    step "$arch: the Qt kit"
    TAVRIN_QT_KIT=$(bash scripts/qt-kit.sh "$arch" | tail -n 1)
    export TAVRIN_QT_KIT

    step "$arch: configuring and building (preset $preset)"
    cmake --preset "$preset" > /dev/null
    cmake --build --preset "$preset"
    cmake --build --preset "$preset" --target dist
    zip=$(ls -t dist/tavrin-*-"$flavour".zip | head -n 1)
    step "$arch: what $zip holds, and the oldest Windows it loads on"
    bash tests/windows/zip_contents.sh "$zip"
    python3 tests/windows/zip_imports.py "$zip" "$arch"
    /usr/bin/python3 tests/windows/zip_manifest.py "$zip"
    /usr/bin/python3 tests/windows/zip_bom.py "$zip"
    if [ -n "${TAVRIN_SIGNING_PKCS12:-}" ]; then
        bash tests/windows/zip_signature.sh "$zip"
    fi
    (cd dist && sha256sum --check --strict SHA256SUMS)

    if ! "$loader" --version > /dev/null 2>&1; then
        step "$arch: skipped the unit tests, the zip test and the control test (win7, win10) under Wine:" \
             "this kernel runs no 32-bit programs; the program and its tests were built and the zip checked"
        continue
    fi
    step "$arch: the tests under Wine"
    bash tests/shell/xvfb.sh ctest --preset "$preset"
    for version in win7 win10; do
        export TAVRIN_WINE_VERSION=$version
        step "$arch: the program from $zip in a fresh Wine prefix reporting $version"
        bash tests/shell/xvfb.sh bash tests/windows/zip_test.sh "$zip"
        step "$arch: the program from the zip against the registered stand-in control ($version)"
        bash tests/shell/xvfb.sh bash tests/windows/control_test.sh "$zip" "build-$preset"
        step "$arch: the same against the stand-in as strict as a control framework ($version)"
        bash tests/shell/xvfb.sh bash tests/windows/control_test.sh "$zip" "build-$preset" strict
    done
    unset TAVRIN_WINE_VERSION
done
