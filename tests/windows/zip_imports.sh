#!/usr/bin/env bash
# Every DLL that a program or DLL in the zip imports is either in the zip or
# one that Windows itself provides (as Wine's own DLLs for that architecture
# list them). Runs without running anything, so it holds for 32-bit zips on
# machines that cannot run 32-bit code.
# Usage: zip_imports.sh ZIP i686|x86_64
set -euo pipefail
zip=$(realpath "$1")
case $2 in
    i686) objdump=i686-w64-mingw32-objdump system=/usr/lib/i386-linux-gnu/wine/i386-windows ;;
    x86_64) objdump=x86_64-w64-mingw32-objdump system=/usr/lib/x86_64-linux-gnu/wine/x86_64-windows ;;
    *) echo "usage: $0 ZIP i686|x86_64" >&2; exit 2 ;;
esac
[ -d "$system" ] || { echo "FAIL: no list of Windows's own DLLs at $system" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(cd "$work" && cmake -E tar xf "$zip")

lower() { tr '[:upper:]' '[:lower:]'; }
shipped=$(find "$work" -iname '*.dll' -printf '%f\n' | lower | sort -u)
windows=$(ls "$system" | lower | sort -u)
missing=0
while IFS= read -r binary; do
    for dll in $("$objdump" -p "$binary" | sed -n 's/^\s*DLL Name: //p' | lower | sort -u); do
        if ! grep -qxF "$dll" <<< "$shipped" && ! grep -qxF "$dll" <<< "$windows" &&
            [[ $dll != api-ms-win-* ]]; then
            echo "FAIL: ${binary#"$work"/} needs $dll, which is neither in the zip nor part of Windows"
            missing=1
        fi
    done
done < <(find "$work" -iname '*.exe' -o -iname '*.dll')
[ "$missing" -eq 0 ] || exit 1
echo "PASS: every DLL the zip's programs load is in the zip or part of Windows ($(wc -l <<< "$shipped") shipped)"
