#!/usr/bin/env bash
# The zip holds what a technician and anyone who rebuilds its DLLs need: the
# program, Qt's DLLs and plugins, the compiler's runtime, a README naming the
# Windows versions and the file it edits, and the licences with the exact
# source the Qt DLLs were built from. Runs without running anything.
# Usage: zip_contents.sh ZIP
set -euo pipefail
zip=$(realpath "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(cd "$work" && cmake -E tar xf "$zip")
top=$(ls "$work")
[ "$(wc -l <<< "$top")" -eq 1 ] || { echo "FAIL: the zip holds more than one folder: $top"; exit 1; }
dir=$work/$top
failed=0
fail() { echo "FAIL: $*"; failed=1; }
has() { [ -s "$dir/$1" ] || fail "$1 is missing"; }
says() { grep -qF -- "$2" "$dir/$1" 2>/dev/null || fail "$1 does not say \"$2\""; }

for file in tavrin.exe platforms/qwindows.dll styles/qwindowsvistastyle.dll libstdc++-6.dll \
    libwinpthread-1.dll README.txt licences/Qt-LGPL-3.txt licences/GPL-3.txt licences/Qt-source-version.txt \
    licences/Qt-configure-options.txt licences/Qt-Debian-copyright.txt licences/GCC-runtime-copyright.txt \
    licences/mingw-w64-runtime-copyright.txt; do
    has "$file"
done
ls "$dir"/Qt?Core.dll "$dir"/Qt?Gui.dll "$dir"/Qt?Widgets.dll > /dev/null 2>&1 || fail "a Qt DLL is missing"
source_version=$(cat "$dir/licences/Qt-source-version.txt" 2>/dev/null || true)
[[ $source_version =~ ^qtbase-opensource-src\ 5\.15\.[0-9]+\+dfsg ]] ||
    fail "Qt-source-version.txt names no Debian Qt 5.15 source: $source_version"
says licences/Qt-LGPL-3.txt "GNU LESSER GENERAL PUBLIC LICENSE"
says licences/GPL-3.txt "GNU GENERAL PUBLIC LICENSE"
says licences/GCC-runtime-copyright.txt "GCC RUNTIME LIBRARY EXCEPTION"
says licences/mingw-w64-runtime-copyright.txt "winpthreads"
says README.txt 'C:\QEL\Roboter\Init\Backward.ini'
says README.txt "Windows 7 SP1"
says README.txt "Windows XP"
says README.txt "signed-in user"
says README.txt "${source_version#qtbase-opensource-src }"
grep -q $'\r$' "$dir/README.txt" || fail "README.txt does not have Windows line ends"
[ "$failed" -eq 0 ] || exit 1
echo "PASS: $(basename "$zip") holds the program, its DLLs, README.txt and the licences ($source_version)"
