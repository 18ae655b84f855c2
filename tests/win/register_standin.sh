#!/usr/bin/env bash
# Registers the stand-in control in the Wine prefix PREFIX with regsvr32, as
# the real control's setup does, or removes it again with --unregister.
# --fresh starts from a new prefix. The Wine loader is $WINE, else the one of
# the DLL's bitness (in a 64-bit prefix, Wine's regsvr32 hands a 32-bit DLL to
# its 32-bit self). Returns once the prefix's wineserver has ended.
#   register_standin.sh [--fresh] PREFIX DLL [--unregister]
set -euo pipefail

fresh=0 unregister=()
args=()
for a in "$@"; do
    case $a in
        --fresh) fresh=1 ;;
        --unregister) unregister=(/u) ;;
        *) args+=("$a") ;;
    esac
done
[ ${#args[@]} -eq 2 ] || { echo "usage: $0 [--fresh] PREFIX DLL [--unregister]" >&2; exit 2; }
export WINEPREFIX=${args[0]}
dll=${args[1]}
export WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
wineserver=/usr/lib/wine/wineserver # Debian's, also without the wine package's commands

if [ -z "${WINE:-}" ]; then
    # The machine field of the PE header: 8664 for x86_64, 014c for i386.
    pe=$(od -An -tu4 -j60 -N4 "$dll" | tr -d ' ')
    case $(od -An -tx2 -j$((pe + 4)) -N2 "$dll" | tr -d ' ') in
        8664) WINE=/usr/lib/wine/wine64 ;;
        *) WINE=/usr/lib/wine/wine ;;
    esac
fi

if [ $fresh -eq 1 ]; then
    [ -d "$WINEPREFIX" ] && "$wineserver" -k 2>/dev/null || true
    rm -rf "$WINEPREFIX"
fi
status=0
"$WINE" regsvr32 /s "${unregister[@]}" "$dll" || status=$?
"$wineserver" -w
exit $status
